#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "core/settings/address_ledger.h"
#include "core/settings/address_pool.h"

namespace skav::settings {

// A station's own pool (the per-user file pool) guarded by the PC's address ledger, so that
// stations of different accounts on one PC never send one address to two boards. Every
// reservation is in the ledger, on disk, before it returns; an address the ledger holds is
// never handed out again, except to a board whose last run did not pass (a re-test the
// operator asks for by entering the address).
class LedgerAddressPool : public AddressPool {
 public:
  LedgerAddressPool(std::unique_ptr<AddressPool> inner, std::unique_ptr<AddressLedger> ledger);

  PoolResult<MacDigits::Digits> read_next(Log* log) override { return inner_->read_next(log); }
  PoolResult<> write_next(Log* log, const MacDigits::Digits& digits) override {
    return inner_->write_next(log, digits);
  }
  // Not exact: the inner pool's next address, moving past (and logging) each one the ledger
  // holds. Exact: kRefused for an address whose last board passed (the message says when and
  // where), else the inner pool's answer. kUnavailable when the ledger cannot be locked, read
  // or written (the message says why): no address is then given.
  PoolResult<Reservation> reserve(Log* log, const MacDigits::Digits& wanted, bool exact,
                                  const std::string& port) override;
  // The ledger adds what this PC knows to `history`: kRefused when the address's last line is a
  // pass, else the inner pool's claim for an address the ledger or `history` knows, noted in
  // the ledger (kUnavailable when it cannot be) before it returns.
  PoolResult<Reservation> claim_retest(Log* log, const MacDigits::Digits& address,
                                       const BoardHistory& history, const MacDigits::Digits& next,
                                       const std::string& port) override;
  // kUnavailable while the ledger cannot be read or written; else the inner pool's check.
  PoolResult<> check(Log* log) override;
  // Appends the board's verdict to the ledger (kUnavailable when it cannot), then tells the
  // inner pool.
  PoolResult<> finish(const Reservation& reservation, const BoardOutcome& outcome) override;
  std::optional<MacDigits::Digits> known_next() const override { return inner_->known_next(); }

 private:
  PoolResult<Reservation> reserve_locked(Log* log, const MacDigits::Digits& wanted, bool exact,
                                         const std::string& port);
  // Sets the inner pool's next address past the run of addresses the ledger holds from there
  // on, logging what it skips.
  PoolResult<> move_past_ledger(Log* log, const MacDigits::Digits& wanted);

  std::unique_ptr<AddressPool> inner_;
  std::unique_ptr<AddressLedger> ledger_;
  std::mutex mutex_;  // the ledger serves one call at a time among the ports of a process
  std::unordered_map<std::string, std::string> ports_;  // by reserved address: its adapter
};

}  // namespace skav::settings

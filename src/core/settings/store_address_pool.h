#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "core/settings/address_pool.h"
#include "core/settings/open_retests.h"
#include "core/settings/pool_hold.h"
#include "core/settings/settings_store.h"

namespace skav::settings {

// The address pool kept as MACHWID in a settings store: the next address. Reserving an address
// stores the one after it before the reservation returns, so a station that dies mid-run never
// hands an address out twice. The only code that reads or writes MACHWID.
class StoreAddressPool : public AddressPool {
 public:
  explicit StoreAddressPool(SettingsStore& store) : store_(store) {}

  // kRefused: the stored value is not 12 hexadecimal digits; kUnavailable: the store could not
  // be read (the message names the file and the error).
  PoolResult<MacDigits::Digits> read_next(Log* log) override;
  // kUnavailable: the store could not be written (the message names the file and the error).
  PoolResult<> write_next(Log* log, const MacDigits::Digits& digits) override;
  // The address is `wanted` when exact, else the stored MACHWID (`wanted` only when there is no
  // value); MACHWID becomes that address plus one before the address is given. kUnavailable:
  // the store could not be read or that write failed (nothing was given; the message names the
  // file and the error). kRefused: the stored value is not 12 hexadecimal digits, or the address
  // would be a group address (an entered one, or the store's range used up: the address after
  // 00FFFFFFFFFF is never given).
  PoolResult<Reservation> reserve(Log* log, const MacDigits::Digits& wanted, bool exact,
                                  const std::string& port) override;
  // As reserve() would answer for the store's next address, without taking it: the store is read,
  // the next address written back unchanged, and the value checked. Logs nothing.
  PoolResult<> check(Log* log) override;
  // The store knows only what `history` says: kUnset when no run of this station sent the
  // address, kRefused when its last passed or a re-test of it is open in this process. The
  // store is neither read nor written.
  PoolResult<Reservation> claim_retest(Log* log, const MacDigits::Digits& address,
                                       const BoardHistory& history, const MacDigits::Digits& next,
                                       const std::string& port) override;
  // The production records keep the outcome; a re-test's claim ends here.
  PoolResult<> finish(const Reservation& reservation, const BoardOutcome&) override;
  std::optional<MacDigits::Digits> known_next() const override;

 private:
  // The stored next address: none when there is no value; kRefused when it is not 12
  // hexadecimal digits, kUnavailable when the store cannot be read.
  PoolResult<std::optional<MacDigits::Digits>> stored_next(Log* log);
  PoolResult<> used_up(const MacDigits::Digits& next) const;
  PoolResult<> unwritable(int error) const;

  SettingsStore& store_;
  mutable std::mutex mutex_;  // one reservation at a time among the ports of a process
  std::optional<MacDigits::Digits> known_;
  OpenRetests retests_;
};

}  // namespace skav::settings

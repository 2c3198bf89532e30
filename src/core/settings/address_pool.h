#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "core/log.h"
#include "core/mac_digits.h"

namespace skav::settings {

// How a pool call ended. kDone: reserved, read, stored, checked or sent; kUnset: the
// pool holds no next address yet; kKept: an outcome is kept durably and sent later;
// kUnavailable: the pool cannot be reached now (try again later); kExhausted: it has no address
// left (the line stops); kRefused: this address or value cannot be given or set.
enum class PoolCode { kDone, kUnset, kKept, kUnavailable, kExhausted, kRefused };

// The answer of every pool call: its code, a message for the operator when not kDone, and the
// call's value (meaningful only when kDone, unless the call says otherwise).
template <typename T = std::monostate>
struct PoolResult {
  PoolCode code = PoolCode::kDone;
  std::string message;
  T value{};
  bool ok() const { return code == PoolCode::kDone; }
  // The same code and message for a call with another value: passes a failure on.
  template <typename U>
  PoolResult<U> as() const {
    return {code, message, U{}};
  }
};

// One address taken for one board.
struct Reservation {
  MacDigits::Digits address{};  // what the board receives
  MacDigits::Digits next{};     // what the pool gives the next board
  std::uint64_t id = 0;         // the back end's own reference to the reservation
  int attempt = 1;              // which run of the board this is: above 1 for a re-test
};

// What this station's production records say of an address sent to a board: how many runs
// wrote it into an environment image, and whether the last of them passed.
struct BoardHistory {
  int runs = 0;
  bool last_passed = false;
};

// A finished board as its production record has it, column by column.
struct BoardOutcome {
  std::string verdict;  // the record's overall verdict
  std::vector<std::pair<std::string, std::string>> columns;
};

// Where boards' addresses come from. A station reserves each board's address before any byte of
// it leaves, and tells the pool how the board ended. Any thread may call; one station (or the
// ports of one process) holds a pool at a time unless its back end shares it safely.
class AddressPool {
 public:
  virtual ~AddressPool() = default;
  // The address the next board receives, as the station shows it. kUnset: no value is
  // stored (start-up stores the station's own); another code: the message says why.
  virtual PoolResult<MacDigits::Digits> read_next(Log* log) = 0;
  // Sets the address the next board receives (the Interface dialog, --mac, start-up's repair).
  // kDone: stored; otherwise the message names the store and the error.
  virtual PoolResult<> write_next(Log* log, const MacDigits::Digits& digits) = 0;
  // Takes an address for a board and makes it durable before returning: `wanted` itself when
  // `exact` (the operator's entry), else the pool's next address (`wanted` is the station's
  // MAC Digits, which a pool without an address of its own starts from). `port` names the
  // adapter the board is on.
  virtual PoolResult<Reservation> reserve(Log* log, const MacDigits::Digits& wanted, bool exact,
                                          const std::string& port) = 0;
  // A board answered discovery with `address`: when that address was sent to a board before
  // (`history` is what this station's records say; the pool adds what it knows itself) and its
  // last run did not pass, the board is re-tested with it. kDone: the address is claimed for
  // this re-test until finish(), durably where the pool is shared, and the reservation's
  // attempt says which run this is; the pool's next address does not move (the reservation's
  // `next` is `next`). kUnset: the pool knows no such board: reserve() as usual. kRefused: a
  // pass is recorded or kept for the address, or another re-test of it is open (the message
  // says which). kUnavailable: the pool cannot be reached now.
  virtual PoolResult<Reservation> claim_retest(Log* log, const MacDigits::Digits& address,
                                               const BoardHistory& history,
                                               const MacDigits::Digits& next,
                                               const std::string& port) {
    (void)log, (void)address, (void)history, (void)next, (void)port;
    return {PoolCode::kUnset, {}};
  }
  // Whether a board could be given an address now, without taking one: the store (or database)
  // can be read and written and holds a usable next address. Not kDone: what is wrong, for the
  // operator; the station takes no board until a later check passes.
  virtual PoolResult<> check(Log* log) {
    (void)log;
    return {};
  }
  // Records how the board that received `reservation` ended. kDone: stored. kKept: kept durably
  // and sent later (the message says why not now). Any other code: not kept; the station
  // keeps the record and calls again, which must not store it twice.
  virtual PoolResult<> finish(const Reservation& reservation, const BoardOutcome& outcome) = 0;
  // Tries once more to send the outcomes kept for later. The value: how many are still unsent
  // (kKept, the message the last reason; they go when the pool is next used); kDone: none.
  virtual PoolResult<std::size_t> flush_outcomes() { return {}; }
  // The next address as this process last read, set or handed it out, without asking the
  // store: what every port of the process shows. None where the pool keeps no such address.
  virtual std::optional<MacDigits::Digits> known_next() const { return std::nullopt; }
  // The process is stopping: a pool that waits on something outside it (a database) ends that
  // wait, in a call in progress and in later ones, after a short grace. Any thread may call.
  virtual void interrupt() {}
};

}  // namespace skav::settings

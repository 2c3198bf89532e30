#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/log.h"
#include "core/mac_digits.h"
#include "core/status.h"

namespace skav::settings {

// How a reservation ended. kReserved: the address is taken; kUnavailable: the pool cannot be
// reached now (try again later); kExhausted: it has no address left (the line stops);
// kRefused: this address cannot be given.
enum class PoolCode { kReserved, kUnavailable, kExhausted, kRefused };

struct PoolResult {
  PoolCode code = PoolCode::kReserved;
  std::string message;  // for the operator, when not reserved
  bool ok() const { return code == PoolCode::kReserved; }
};

// One address taken for one board.
struct Reservation {
  MacDigits::Digits address{};  // what the board receives
  MacDigits::Digits next{};     // what the pool gives the next board
  std::uint64_t id = 0;         // the back end's own reference to the reservation
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
  // The address the next board receives, as the station shows it. 0 read; otherwise the
  // store's error code (a missing value: kNotFound), `digits` untouched.
  virtual int read_next(Log* log, MacDigits::Digits& digits) = 0;
  // Sets the address the next board receives (the Interface dialog, --mac, start-up's repair).
  // 0 stored; otherwise the store's error code.
  virtual int write_next(Log* log, const MacDigits::Digits& digits) = 0;
  // Takes an address for a board and makes it durable before returning: `wanted` itself when
  // `exact` (the operator's entry), else the pool's next address (`wanted` is the station's
  // MAC Digits, which a pool without an address of its own starts from). `port` names the
  // adapter the board is on.
  virtual PoolResult reserve(Log* log, const MacDigits::Digits& wanted, bool exact,
                             const std::string& port, Reservation& out) = 0;
  // Whether a board could be given an address now, without taking one: the store (or database)
  // can be read and written and holds a usable next address. Not kReserved: what is wrong, for
  // the operator; the station takes no board until a later check passes.
  virtual PoolResult check(Log* log) {
    (void)log;
    return {};
  }
  // Records how the board that received `reservation` ended. Ok: stored. EAGAIN: kept durably
  // and sent later (the message says why not now). Any other error: not kept; the station
  // keeps the record and calls again, which must not store it twice.
  virtual Status finish(const Reservation& reservation, const BoardOutcome& outcome) = 0;
  // Tries once more to send the outcomes kept for later, and returns how many are still
  // unsent (`why`: the last reason). They stay kept and go when the pool is next used.
  virtual std::size_t flush_outcomes(std::string& why) {
    (void)why;
    return 0;
  }
  // The next address as this process last read, set or handed it out, without asking the
  // store: what every port of the process shows. None where the pool keeps no such address.
  virtual std::optional<MacDigits::Digits> known_next() const { return std::nullopt; }
  // The process is stopping: a pool that waits on something outside it (a database) ends that
  // wait, in a call in progress and in later ones, after a short grace. Any thread may call.
  virtual void interrupt() {}
};

}  // namespace skav::settings

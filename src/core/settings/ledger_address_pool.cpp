#include "core/settings/ledger_address_pool.h"

#include <algorithm>

namespace skav::settings {

namespace {

PoolResult<> unavailable(std::string message) { return {PoolCode::kUnavailable, std::move(message)}; }

// "2026-12-10T06:50:12+01:00 by op@bench1 on eth0"
std::string when_and_where(const LedgerEntry& entry) {
  return entry.time + " by " + entry.station + " on " + entry.adapter;
}

}  // namespace

LedgerAddressPool::LedgerAddressPool(std::unique_ptr<AddressPool> inner,
                                     std::unique_ptr<AddressLedger> ledger)
    : inner_(std::move(inner)), ledger_(std::move(ledger)) {}

PoolResult<Reservation> LedgerAddressPool::reserve(Log* log, const MacDigits::Digits& wanted, bool exact,
                                                   const std::string& port) {
  std::lock_guard lock(mutex_);
  if (std::string error = ledger_->lock_and_read(); !error.empty())
    return unavailable(error).as<Reservation>();
  PoolResult<Reservation> result = reserve_locked(log, wanted, exact, port);
  ledger_->unlock();
  return result;
}

PoolResult<Reservation> LedgerAddressPool::reserve_locked(Log* log, const MacDigits::Digits& wanted,
                                                          bool exact, const std::string& port) {
  PoolResult<Reservation> reserved;
  const Reservation& out = reserved.value;
  if (exact) {
    if (const LedgerEntry* last = ledger_->last(wanted)) {
      const std::string address = MacDigits::text(last->address);
      // Only a board that passed holds its address for good; another run of a board that did
      // not is the operator's re-test.
      if (last->event == kLedgerPass)
        return {PoolCode::kRefused, "MAC address " + address + " was programmed into a board that "
                                    "passed, " + when_and_where(*last) + "; it is not given again"};
      log_sink(log, "MAC Addr : %s was sent to a board on this PC before (%s, %s): re-test\r\n",
               address.c_str(), when_and_where(*last).c_str(), last->event.c_str());
    }
    reserved = inner_->reserve(log, wanted, true, port);
    if (!reserved.ok()) return reserved;
  } else {
    if (PoolResult<> moved = move_past_ledger(log, wanted); !moved.ok()) return moved.as<Reservation>();
    // The inner pool advances with each reservation, so the ledger's addresses are passed
    // after at most as many tries as it holds; one that does not advance is stuck.
    std::optional<MacDigits::Digits> previous;
    for (std::size_t tries = 0;; ++tries) {
      reserved = inner_->reserve(log, wanted, false, port);
      if (!reserved.ok()) return reserved;
      const LedgerEntry* last = ledger_->last(out.address);
      if (last == nullptr) break;
      const std::string address = MacDigits::text(out.address);
      log_sink(log, "MAC Addr : %s skipped: it was sent to a board on this PC before (%s)\r\n",
               address.c_str(), when_and_where(*last).c_str());
      if (previous == out.address || tries > ledger_->size())
        return unavailable("the address pool gives " + address + " again, which was sent to a "
                           "board on this PC before")
            .as<Reservation>();
      previous = out.address;
    }
  }
  if (std::string error = ledger_->append(out.address, kLedgerReserved, port); !error.empty())
    return unavailable(error).as<Reservation>();
  ports_[MacDigits::text(out.address)] = port;
  return reserved;
}

PoolResult<> LedgerAddressPool::move_past_ledger(Log* log, const MacDigits::Digits& wanted) {
  MacDigits::Digits start = wanted;
  if (PoolResult<MacDigits::Digits> stored = inner_->read_next(log);
      stored.ok() && MacDigits::all_hex(stored.value))
    start = stored.value;
  // A second account may start where the first began thousands of boards ago: the held run is
  // walked here, and the store written once, not once per address.
  MacDigits::Digits free = start;
  std::size_t skipped = 0;
  const LedgerEntry* first = nullptr;
  const LedgerEntry* last = nullptr;
  for (const LedgerEntry* held = ledger_->last(free); held != nullptr && skipped <= ledger_->size();
       held = ledger_->last(free)) {
    if (first == nullptr) first = held;
    last = held;
    free = MacDigits::next(free);
    ++skipped;
  }
  if (skipped == 0) return {};
  const std::string from = MacDigits::text(first->address);
  if (skipped == 1)
    log_sink(log, "MAC Addr : %s skipped: it was sent to a board on this PC before (%s)\r\n",
             from.c_str(), when_and_where(*first).c_str());
  else
    log_sink(log, "MAC Addr : %s to %s skipped: %s addresses sent to boards on this PC before "
             "(the last %s)\r\n", from.c_str(), MacDigits::text(last->address).c_str(),
             std::to_string(skipped).c_str(), when_and_where(*last).c_str());
  if (PoolResult<> written = inner_->write_next(log, free); !written.ok())
    return unavailable("the next address " + MacDigits::text(free) + ", past the addresses sent "
                       "to boards on this PC before, could not be stored: " + written.message);
  return {};
}

PoolResult<Reservation> LedgerAddressPool::claim_retest(Log* log, const MacDigits::Digits& address,
                                                        const BoardHistory& history,
                                                        const MacDigits::Digits& next,
                                                        const std::string& port) {
  std::lock_guard lock(mutex_);
  if (std::string error = ledger_->lock_and_read(); !error.empty())
    return unavailable(error).as<Reservation>();
  BoardHistory known = history;
  if (const LedgerEntry* last = ledger_->last(address)) {
    // The ledger's line is the PC's latest word on the address, whichever account wrote it.
    if (last->event == kLedgerPass) {
      ledger_->unlock();
      return {PoolCode::kRefused, "MAC address " + MacDigits::text(address) + " was programmed into "
                                  "a board that passed, " + when_and_where(*last)};
    }
    known.runs = std::max(known.runs, 1);
    known.last_passed = false;
  }
  PoolResult<Reservation> claimed = inner_->claim_retest(log, address, known, next, port);
  if (claimed.ok()) {
    if (std::string error = ledger_->append(address, kLedgerReserved, port); !error.empty()) {
      inner_->finish(claimed.value, BoardOutcome{});
      claimed = unavailable(error).as<Reservation>();
    } else {
      ports_[MacDigits::text(address)] = port;
    }
  }
  ledger_->unlock();
  return claimed;
}

PoolResult<> LedgerAddressPool::check(Log* log) {
  {
    std::lock_guard lock(mutex_);
    std::string error = ledger_->lock_and_read();
    if (error.empty()) {
      error = ledger_->check_writable();
      ledger_->unlock();
    }
    if (!error.empty()) return unavailable(error);
  }
  return inner_->check(log);
}

PoolResult<> LedgerAddressPool::finish(const Reservation& reservation, const BoardOutcome& outcome) {
  {
    std::lock_guard lock(mutex_);
    std::string port;
    if (auto found = ports_.find(MacDigits::text(reservation.address)); found != ports_.end()) {
      port = found->second;
      ports_.erase(found);
    }
    std::string error = ledger_->lock_and_read();
    if (error.empty()) {
      error = ledger_->append(reservation.address, outcome.verdict, port);
      ledger_->unlock();
    }
    if (!error.empty()) return unavailable(error);
  }
  return inner_->finish(reservation, outcome);
}

}  // namespace skav::settings

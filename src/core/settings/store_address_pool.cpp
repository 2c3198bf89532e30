#include "core/settings/store_address_pool.h"

#include <cstdio>

#include "core/mac_digits.h"

namespace skav::settings {

namespace {

// A stored value as the operator is shown it: in quotes, printable characters as they are and
// any other byte as \xNN, at most 32 characters of it. A hand-edited store may hold anything.
std::string shown_value(const std::string& value) {
  constexpr std::size_t kShown = 32;
  std::string out = "\"";
  for (std::size_t i = 0; i < value.size() && i < kShown; ++i) {
    const auto c = static_cast<unsigned char>(value[i]);
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    }
  }
  out += value.size() > kShown ? "\"..." : "\"";
  return out;
}

constexpr const char* kSetNext = "set the next address in the Interface dialog or with --mac";

}  // namespace

PoolResult<MacDigits::Digits> StoreAddressPool::read_next(Log* log) {
  std::lock_guard lock(mutex_);
  PoolResult<std::optional<MacDigits::Digits>> stored = stored_next(log);
  if (!stored.ok()) return stored.as<MacDigits::Digits>();
  if (!stored.value) return {PoolCode::kUnset, "there is no next MAC address in " + store_.place()};
  known_ = stored.value;
  return {PoolCode::kDone, {}, *stored.value};
}

PoolResult<> StoreAddressPool::write_next(Log* log, const MacDigits::Digits& digits) {
  std::lock_guard lock(mutex_);
  known_ = digits;
  if (int result = store_.machwid_write(log, digits); result != kOk) return unwritable(result);
  return {};
}

PoolResult<> StoreAddressPool::unwritable(int error) const {
  return {PoolCode::kUnavailable,
          "the next MAC address could not be stored in " + store_.place() + ": " + store_.error_text(error)};
}

std::optional<MacDigits::Digits> StoreAddressPool::known_next() const {
  std::lock_guard lock(mutex_);
  return known_;
}

PoolResult<std::optional<MacDigits::Digits>> StoreAddressPool::stored_next(Log* log) {
  MacDigits::Digits digits{};
  std::string found;
  int result = store_.machwid_read(log, digits, &found);
  if (result == kNotFound) return {};
  if (result == kBadValue) {
    return {PoolCode::kRefused, "the next MAC address in " + store_.place() + ", " + shown_value(found) +
                                    ", is not 12 hexadecimal digits: " + kSetNext};
  }
  if (result != kOk) {
    return {PoolCode::kUnavailable, "the next MAC address could not be read from " +
                                        store_.place() + ": " + store_.error_text(result)};
  }
  return {PoolCode::kDone, {}, digits};
}

PoolResult<> StoreAddressPool::used_up(const MacDigits::Digits& next) const {
  return {PoolCode::kRefused, "the MAC addresses of " + store_.place() + " are used up: the next, " +
                                  MacDigits::colon_text(next) + ", is a group address: " + kSetNext};
}

PoolResult<Reservation> StoreAddressPool::reserve(Log* log, const MacDigits::Digits& wanted, bool exact,
                                                  const std::string&) {
  std::lock_guard lock(mutex_);
  MacDigits::Digits address = wanted;
  if (exact) {
    if (MacDigits::group(address))
      return {PoolCode::kRefused, MacDigits::colon_text(address) +
                                      " is a group (multicast) address, not a board's own"};
  } else {
    PoolResult<std::optional<MacDigits::Digits>> stored = stored_next(log);
    if (!stored.ok()) return stored.as<Reservation>();
    // Only an absent value gives the station's digits (the default at a first start).
    if (stored.value) address = *stored.value;
    if (MacDigits::group(address)) return used_up(address).as<Reservation>();
  }
  const MacDigits::Digits next = MacDigits::next(address);
  // The address is the board's only once the one after it is stored: a store that cannot be
  // written would otherwise give every later board this same address.
  if (int result = store_.machwid_write(log, next); result != kOk) {
    return unwritable(result).as<Reservation>();
  }
  known_ = next;
  return {PoolCode::kDone, {}, Reservation{address, next, 0}};
}

PoolResult<> StoreAddressPool::check(Log*) {
  std::lock_guard lock(mutex_);
  // Quietly: the station says once what is wrong, and asks again every second.
  PoolResult<std::optional<MacDigits::Digits>> stored = stored_next(nullptr);
  if (!stored.ok()) return stored.as<std::monostate>();
  if (stored.value && MacDigits::group(*stored.value)) return used_up(*stored.value);
  // Writing back what is there proves that the reservation's write would succeed, and changes
  // nothing. An absent value is left absent; the reservation's own write decides there.
  if (stored.value) {
    if (int result = store_.machwid_write(nullptr, *stored.value); result != kOk) return unwritable(result);
    known_ = stored.value;
  }
  return {};
}

PoolResult<Reservation> StoreAddressPool::claim_retest(Log*, const MacDigits::Digits& address,
                                                       const BoardHistory& history,
                                                       const MacDigits::Digits& next,
                                                       const std::string&) {
  if (history.runs <= 0) return {PoolCode::kUnset, {}};
  const std::string shown = MacDigits::text(address);
  if (history.last_passed)
    return {PoolCode::kRefused, "MAC address " + shown + " was programmed into a board that passed"};
  if (!MacDigits::all_hex(address) || MacDigits::group(address))
    return {PoolCode::kRefused, shown + " is not a board's own address"};
  if (!retests_.open(address))
    return {PoolCode::kRefused, "a re-test of MAC address " + shown + " is under way on another port"};
  return {PoolCode::kDone, {}, Reservation{address, next, 0, history.runs + 1}};
}

PoolResult<> StoreAddressPool::finish(const Reservation& reservation, const BoardOutcome&) {
  if (reservation.attempt > 1) retests_.close(reservation.address);
  return {};
}

}  // namespace skav::settings

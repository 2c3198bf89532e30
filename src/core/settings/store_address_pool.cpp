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

int StoreAddressPool::read_next(Log* log, MacDigits::Digits& digits) {
  std::lock_guard lock(mutex_);
  int result = store_.machwid_read(log, digits);
  if (result == kOk) known_ = digits;
  return result;
}

int StoreAddressPool::write_next(Log* log, const MacDigits::Digits& digits) {
  std::lock_guard lock(mutex_);
  known_ = digits;
  return store_.machwid_write(log, digits);
}

std::optional<MacDigits::Digits> StoreAddressPool::known_next() const {
  std::lock_guard lock(mutex_);
  return known_;
}

PoolResult StoreAddressPool::stored_next(Log* log, std::optional<MacDigits::Digits>& next) {
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
  if (MacDigits::group(digits)) return used_up(digits);
  next = digits;
  return {};
}

PoolResult StoreAddressPool::used_up(const MacDigits::Digits& next) const {
  return {PoolCode::kRefused, "the MAC addresses of " + store_.place() + " are used up: the next, " +
                                  MacDigits::colon_text(next) + ", is a group address: " + kSetNext};
}

PoolResult StoreAddressPool::reserve(Log* log, const MacDigits::Digits& wanted, bool exact,
                                     const std::string&, Reservation& out) {
  std::lock_guard lock(mutex_);
  MacDigits::Digits address = wanted;
  if (exact) {
    if (MacDigits::group(address))
      return {PoolCode::kRefused, MacDigits::colon_text(address) +
                                      " is a group (multicast) address, not a board's own"};
  } else {
    std::optional<MacDigits::Digits> stored;
    if (PoolResult read = stored_next(log, stored); !read.ok()) return read;
    if (stored) address = *stored;
    // Only an absent value gives the station's digits (the default at a first start).
    else if (MacDigits::group(address)) return used_up(address);
  }
  const MacDigits::Digits next = MacDigits::next(address);
  // The address is the board's only once the one after it is stored: a store that cannot be
  // written would otherwise give every later board this same address.
  if (int result = store_.machwid_write(log, next); result != kOk) {
    return {PoolCode::kUnavailable, "the next MAC address could not be stored in " +
                                        store_.place() + ": " + store_.error_text(result)};
  }
  out.address = address;
  out.next = next;
  known_ = next;
  return {};
}

PoolResult StoreAddressPool::check(Log*) {
  std::lock_guard lock(mutex_);
  // Quietly: the station says once what is wrong, and asks again every second.
  std::optional<MacDigits::Digits> stored;
  if (PoolResult read = stored_next(nullptr, stored); !read.ok()) return read;
  // Writing back what is there proves that the reservation's write would succeed, and changes
  // nothing. An absent value is left absent; the reservation's own write decides there.
  if (stored) {
    if (int result = store_.machwid_write(nullptr, *stored); result != kOk) {
      return {PoolCode::kUnavailable, "the next MAC address could not be stored in " +
                                          store_.place() + ": " + store_.error_text(result)};
    }
    known_ = stored;
  }
  return {};
}

}  // namespace skav::settings

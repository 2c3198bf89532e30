#include "core/settings/store_address_pool.h"

#include "core/mac_digits.h"

namespace skav::settings {

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

PoolResult StoreAddressPool::reserve(Log* log, const MacDigits::Digits& wanted, bool exact,
                                     const std::string&, Reservation& out) {
  std::lock_guard lock(mutex_);
  MacDigits::Digits address = wanted;
  if (!exact) {
    MacDigits::Digits stored;
    if (store_.machwid_read(log, stored) == kOk && MacDigits::all_hex(stored)) address = stored;
  }
  out.address = address;
  out.next = MacDigits::next(address);
  known_ = out.next;
  store_.machwid_write(log, out.next);
  return {};
}

}  // namespace skav::settings

#include "core/settings/store_address_pool.h"

#include "core/mac_digits.h"

namespace skav::settings {

int StoreAddressPool::read_next(Log* log, MacDigits::Digits& digits) {
  std::lock_guard lock(mutex_);
  return store_.machwid_read(log, digits);
}

int StoreAddressPool::write_next(Log* log, const MacDigits::Digits& digits) {
  std::lock_guard lock(mutex_);
  return store_.machwid_write(log, digits);
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
  store_.machwid_write(log, out.next);
  return {};
}

}  // namespace skav::settings

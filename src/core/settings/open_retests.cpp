#include "core/settings/open_retests.h"

#include <cctype>

namespace skav::settings {

namespace {

// Entered digits may be lower-case; the address is the same.
std::string key(const MacDigits::Digits& address) {
  std::string text = MacDigits::text(address);
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

bool OpenRetests::open(const MacDigits::Digits& address) {
  std::lock_guard lock(mutex_);
  return open_.insert(key(address)).second;
}

void OpenRetests::close(const MacDigits::Digits& address) {
  std::lock_guard lock(mutex_);
  open_.erase(key(address));
}

bool OpenRetests::is_open(const MacDigits::Digits& address) const {
  std::lock_guard lock(mutex_);
  return open_.count(key(address)) != 0;
}

}  // namespace skav::settings

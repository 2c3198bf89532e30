#pragma once

#include <mutex>
#include <set>
#include <string>

#include "core/mac_digits.h"

namespace skav::settings {

// The re-tests open in this process, by address: a board's address is re-tested by one port at
// a time, so two boards that answer with one address never both get it. Any thread may call.
class OpenRetests {
 public:
  // Opens a re-test of `address`. False when one is open already.
  bool open(const MacDigits::Digits& address);
  // Ends the re-test of `address`; nothing when none is open.
  void close(const MacDigits::Digits& address);
  bool is_open(const MacDigits::Digits& address) const;

 private:
  mutable std::mutex mutex_;
  std::set<std::string> open_;  // by the address's 12 digits
};

}  // namespace skav::settings

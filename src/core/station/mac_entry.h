#pragma once

#include <atomic>
#include <mutex>

#include "core/log.h"
#include "core/mac_digits.h"

namespace skav::station {

// The operator's MAC entry: characters typed or scanned into the log while an entry is pending.
// Enter after exactly 12 hexadecimal characters accepts the entry; anything else asks again.
class MacEntry {
 public:
  // The station asks for an address: logs "Input MAC Address : ", sets the digits to twelve F
  // and makes the entry pending.
  void prompt(Log* log, MacDigits& digits);
  // One character with its repeat count. Ignored while no entry is pending. Enter (13) accepts or
  // asks again, Backspace (8) takes back one character, anything else is shown and, within the
  // first 12, stored as the next digit.
  void key(Log* log, MacDigits& digits, char c, int repeat = 1);
  bool pending() const { return pending_.load(); }
  int counter() const;

 private:
  mutable std::mutex mutex_;
  std::atomic<bool> pending_{false};
  int counter_ = 0;
};

}  // namespace skav::station

#pragma once

#include <string>

#include "core/log.h"
#include "core/mac_digits.h"

namespace skav::station {

// The operator's MAC entry: characters typed or scanned into the log while an entry is pending.
// Enter after exactly 12 hexadecimal characters accepts the entry; anything else asks again.
// Used on the station's thread only.
class MacEntry {
 public:
  // The station asks for an address: logs "Input MAC Address : ", sets the digits to twelve F
  // and makes the entry pending with nothing typed.
  void prompt(Log* log, MacDigits::Digits& digits);
  // One character with its repeat count. Ignored while no entry is pending. Enter (13) accepts
  // or asks again, Backspace (8) takes back one character, anything else is shown and, within
  // the first 12, stored as the next digit, once per repeat.
  void key(Log* log, MacDigits::Digits& digits, char c, int repeat = 1);
  // Drops what was typed so far: nothing pending, counter 0.
  void discard() {
    pending_ = false;
    counter_ = 0;
    refused_.clear();
  }
  bool pending() const { return pending_; }
  int counter() const { return counter_; }
  // Why the last Enter asked again ("11 digits", "not hexadecimal"); empty once the next
  // character is typed or an entry is accepted.
  const std::string& refused() const { return refused_; }
  // Entries refused since the station started: grows by one with every refusal, so that a face
  // calls the operator once for each.
  int refusals() const { return refusals_; }

 private:
  bool pending_ = false;
  int counter_ = 0;
  std::string refused_;
  int refusals_ = 0;
};

}  // namespace skav::station

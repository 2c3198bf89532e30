#pragma once

#include <array>
#include <mutex>
#include <string>
#include <string_view>

#include "core/hex.h"

namespace skav {

// The station's text of the board's MAC address: 12 characters, normally hexadecimal digits,
// first digit of the first byte first. Shared between the station thread (status text, MAC
// entry) and a run's worker (which replaces it with the next address): every read sees a whole
// value, never a mix of old and new digits.
class MacDigits {
 public:
  using Digits = std::array<char, 12>;
  static constexpr Digits kDefault = {'0', '0', '1', '1', '2', '2', '3', '3', '4', '4', '5', '5'};

  MacDigits() = default;
  explicit MacDigits(const Digits& digits) : digits_(digits) {}

  Digits get() const {
    std::lock_guard lock(mutex_);
    return digits_;
  }
  void set(const Digits& digits) {
    std::lock_guard lock(mutex_);
    digits_ = digits;
  }
  // Replaces the one digit at `index` (0-11); used by the MAC entry.
  void set_digit(std::size_t index, char c) {
    std::lock_guard lock(mutex_);
    if (index < digits_.size()) digits_[index] = c;
  }
  std::string text() const {
    Digits d = get();
    return std::string(d.data(), d.size());
  }

  static bool all_hex(const Digits& digits) {
    for (char c : digits)
      if (hex_value(c) < 0) return false;
    return true;
  }
  // The digits in pairs separated by colons: "00:11:22:33:44:55".
  static std::string colon_text(const Digits& digits) {
    std::string text;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
      if (i > 0) text += ':';
      text += digits[i];
      text += digits[i + 1];
    }
    return text;
  }
  // Twelve hexadecimal digits, or nothing.
  static bool parse(std::string_view text, Digits& out) {
    if (text.size() != 12) return false;
    Digits d;
    for (std::size_t i = 0; i < 12; ++i) d[i] = text[i];
    if (!all_hex(d)) return false;
    out = d;
    return true;
  }

 private:
  mutable std::mutex mutex_;
  Digits digits_ = kDefault;
};

}  // namespace skav

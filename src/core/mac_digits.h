#pragma once

#include <array>
#include <string>
#include <string_view>

#include "core/hex.h"

namespace skav {

// The station's text of the board's MAC address: 12 characters, normally hexadecimal digits,
// first digit of the first byte first. One thread owns the station's copy; others see copies.
struct MacDigits {
  using Digits = std::array<char, 12>;
  static constexpr Digits kDefault = {'0', '0', '1', '1', '2', '2', '3', '3', '4', '4', '5', '5'};

  static std::string text(const Digits& digits) { return std::string(digits.data(), digits.size()); }
  static bool all_hex(const Digits& digits) {
    for (char c : digits)
      if (hex_value(c) < 0) return false;
    return true;
  }
  // Bit 0 of the first byte: a group (multicast) address, broadcast included, which no board
  // may be given as its own. False for digits that are not hexadecimal.
  static bool group(const Digits& digits) {
    const int low = hex_value(digits[1]);
    return low >= 0 && (low & 1) == 1;
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
  // The address plus one, "%04X%08X" of the 48-bit value: digits 1-4 are its upper 16 bits,
  // 5-12 its lower 32, each part's value from its leading hexadecimal digits. FFFFFFFFFFFF wraps
  // to 000000000000 (then `wrapped`, if given, is set).
  static Digits next(const Digits& digits, bool* wrapped = nullptr);
  // Twelve hexadecimal digits, or nothing.
  static bool parse(std::string_view text, Digits& out) {
    if (text.size() != 12) return false;
    Digits d;
    for (std::size_t i = 0; i < 12; ++i) d[i] = text[i];
    if (!all_hex(d)) return false;
    out = d;
    return true;
  }
};

}  // namespace skav

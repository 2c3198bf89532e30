#include "core/mac_digits.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace skav {

namespace {

// The value of the leading hexadecimal digits of `text` (at most `count` characters).
std::uint32_t leading_hex(const char* text, std::size_t count) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    int d = hex_value(text[i]);
    if (d < 0) break;
    value = value << 4 | static_cast<std::uint32_t>(d);
  }
  return value;
}

}  // namespace

MacDigits::Digits MacDigits::next(const Digits& digits, bool* wrapped) {
  std::uint32_t upper = leading_hex(digits.data(), 4);
  std::uint32_t lower = leading_hex(digits.data() + 4, 8);
  lower += 1;
  if (lower == 0) upper += 1;
  upper &= 0xFFFFu;  // the address has 48 bits; FFFFFFFFFFFF + 1 wraps to 0
  if (wrapped != nullptr) *wrapped = upper == 0 && lower == 0;
  char text[13];
  std::snprintf(text, sizeof text, "%04X%08X", static_cast<unsigned>(upper),
                static_cast<unsigned>(lower));
  Digits result;
  std::memcpy(result.data(), text, result.size());
  return result;
}

}  // namespace skav

#pragma once

#include <gtest/gtest.h>

#include <string_view>

#include "core/mac_digits.h"

namespace skav::test {

// The address `text` (12 hex digits) as a station holds it; a test that gives a bad one fails.
inline MacDigits::Digits digits(std::string_view text) {
  MacDigits::Digits out{};
  EXPECT_TRUE(MacDigits::parse(text, out)) << text;
  return out;
}

}  // namespace skav::test

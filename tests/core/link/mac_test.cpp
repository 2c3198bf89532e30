#include "core/link/mac.h"

#include <gtest/gtest.h>

namespace skav::link {
namespace {

TEST(Mac, FormatsSixLowerCasePairs) {
  EXPECT_EQ(format_mac({0x02, 0x00, 0xAB, 0x0c, 0xff, 0x01}), "02:00:ab:0c:ff:01");
}

TEST(Mac, ParsesColonDashAndBareForms) {
  const Mac expected = {0x02, 0x00, 0xab, 0x0c, 0xff, 0x01};
  EXPECT_EQ(parse_mac("02:00:AB:0c:ff:01"), expected);
  EXPECT_EQ(parse_mac("02-00-ab-0c-ff-01"), expected);
  EXPECT_EQ(parse_mac("0200ab0cff01"), expected);
}

TEST(Mac, RejectsMalformedText) {
  EXPECT_FALSE(parse_mac(""));
  EXPECT_FALSE(parse_mac("02:00:ab:0c:ff"));
  EXPECT_FALSE(parse_mac("02:00:ab:0c:ff:0g"));
  EXPECT_FALSE(parse_mac("02.00.ab.0c.ff.01"));
  EXPECT_FALSE(parse_mac("0200ab0cff0"));
  EXPECT_FALSE(parse_mac("02:00:ab:0c:ff:011"));
}

}  // namespace
}  // namespace skav::link

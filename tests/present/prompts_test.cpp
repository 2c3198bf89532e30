// Which port a window with several ports shows to the operator who types or scans addresses.

#include <gtest/gtest.h>

#include "present/prompts.h"

namespace skav::present {
namespace {

TEST(OpenPrompts, TypingGoesToTheShownPortWhileItAsksElseToTheOneThatAskedLongest) {
  OpenPrompts prompts;
  EXPECT_EQ(prompts.port_for_typing(1), 1u);  // no port asks: the shown one stays

  EXPECT_TRUE(prompts.update(2, true));
  EXPECT_FALSE(prompts.update(2, true));  // a snapshot that changes nothing of it
  EXPECT_TRUE(prompts.update(0, true));
  EXPECT_EQ(prompts.port_for_typing(1), 2u);  // 2 asked first
  EXPECT_EQ(prompts.port_for_typing(0), 0u);  // the shown port asks itself: it keeps the typing

  EXPECT_TRUE(prompts.update(2, false));  // 2's address was entered
  EXPECT_FALSE(prompts.asks(2));
  EXPECT_EQ(prompts.port_for_typing(2), 0u);
  EXPECT_TRUE(prompts.update(2, true));  // 2 asks again for its next board: behind 0
  EXPECT_EQ(prompts.port_for_typing(1), 0u);

  EXPECT_TRUE(prompts.update(0, false));
  EXPECT_TRUE(prompts.update(2, false));
  EXPECT_FALSE(prompts.update(1, false));
  EXPECT_EQ(prompts.port_for_typing(1), 1u);
}

}  // namespace
}  // namespace skav::present

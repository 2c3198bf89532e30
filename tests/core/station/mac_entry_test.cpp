#include "core/station/mac_entry.h"

#include <gtest/gtest.h>

#include <string>

namespace skav::station {
namespace {

class MacEntryTest : public ::testing::Test {
 protected:
  void type(const std::string& keys) {
    for (char c : keys) entry_.key(&log_, digits_, c);
  }
  std::string digits() const { return MacDigits::text(digits_); }

  StringLog log_;
  MacDigits::Digits digits_ = MacDigits::kDefault;
  MacEntry entry_;
};

TEST_F(MacEntryTest, CharactersWhileNothingIsPendingChangeNothing) {
  type("abc\r\b");
  EXPECT_EQ(log_.text(), "");
  EXPECT_EQ(digits(), "001122334455");
}

TEST_F(MacEntryTest, TwelveDigitsAndEnterAreAcceptedInTheirCase) {
  entry_.prompt(&log_, digits_);
  EXPECT_EQ(digits(), "FFFFFFFFFFFF");
  type("00a0c914c829\r");
  EXPECT_FALSE(entry_.pending());
  EXPECT_EQ(entry_.counter(), 0);
  EXPECT_EQ(digits(), "00a0c914c829");
  EXPECT_EQ(log_.text(), "Input MAC Address : 00a0c914c829\r\n");
}

TEST_F(MacEntryTest, ElevenDigitsAndEnterAskAgainKeepingWhatWasTyped) {
  entry_.prompt(&log_, digits_);
  type("00a0c914c82\r");
  EXPECT_TRUE(entry_.pending());
  EXPECT_EQ(entry_.counter(), 0);
  EXPECT_EQ(digits(), "00a0c914c82F");
  EXPECT_EQ(log_.text(), "Input MAC Address : 00a0c914c82\r\nInput MAC Address : ");
}

TEST_F(MacEntryTest, BackspaceTakesBackOneCharacterWithoutClearingTheDigit) {
  entry_.prompt(&log_, digits_);
  type("001122334455");
  type("\b");
  EXPECT_EQ(entry_.counter(), 11);
  EXPECT_EQ(digits(), "001122334455");
  type("6\r");
  EXPECT_FALSE(entry_.pending());
  EXPECT_EQ(digits(), "001122334456");
  EXPECT_EQ(log_.text(), "Input MAC Address : 001122334456\r\n");
}

TEST_F(MacEntryTest, BackspaceRightAfterThePromptErasesThePromptsBlank) {
  entry_.prompt(&log_, digits_);
  type("\b");
  EXPECT_EQ(entry_.counter(), 0);
  EXPECT_EQ(log_.text(), "Input MAC Address :");
}

TEST_F(MacEntryTest, CharactersAfterTheTwelfthAreCountedAndShownButNeverStored) {
  entry_.prompt(&log_, digits_);
  type("0011223344556677");
  EXPECT_EQ(entry_.counter(), 16);
  EXPECT_EQ(digits(), "001122334455");
  type("\r");
  EXPECT_TRUE(entry_.pending());
  EXPECT_EQ(log_.text(), "Input MAC Address : 0011223344556677\r\nInput MAC Address : ");
}

TEST_F(MacEntryTest, TwelveCharactersThatAreNotHexadecimalAreRefusedWithAMessage) {
  entry_.prompt(&log_, digits_);
  type("00-11-22-33-\r");
  EXPECT_TRUE(entry_.pending());
  EXPECT_EQ(log_.text(),
            "Input MAC Address : 00-11-22-33-\r\n"
            "Not a MAC address: enter 12 hexadecimal digits\r\n"
            "Input MAC Address : ");
}

TEST_F(MacEntryTest, RepeatCountStoresTheCharacterThatManyTimes) {
  entry_.prompt(&log_, digits_);
  entry_.key(&log_, digits_, 'a', 12);
  EXPECT_EQ(entry_.counter(), 12);
  EXPECT_EQ(digits(), "aaaaaaaaaaaa");
  EXPECT_EQ(log_.text(), "Input MAC Address : aaaaaaaaaaaa");
}

// What the operator's window shows of a refused entry: why, until typing resumes, and a count
// that moves once per refusal so the window calls once for each.
TEST_F(MacEntryTest, ARefusedEntrySaysWhyUntilTypingResumes) {
  struct Step {
    const char* keys;
    const char* refused;
    int refusals;
  };
  const Step steps[] = {
      {"00a0c914c82\r", "11 digits", 1},
      {"0", "", 1},  // typing again: the refusal no longer describes the entry
      {"\r", "1 digit", 2},
      {"\r", "0 digits", 3},
      {"00-11-22-33-\r", "not hexadecimal", 4},
      {"\b", "", 4},
      {"0011223344556677\r", "16 digits", 5},
      {"00a0c914c829\r", "", 5},  // accepted
  };
  entry_.prompt(&log_, digits_);
  EXPECT_EQ(entry_.refused(), "");
  for (const Step& step : steps) {
    type(step.keys);
    EXPECT_EQ(entry_.refused(), step.refused) << step.keys;
    EXPECT_EQ(entry_.refusals(), step.refusals) << step.keys;
  }
  EXPECT_FALSE(entry_.pending());
  entry_.prompt(&log_, digits_);
  type("1\r");
  ASSERT_EQ(entry_.refused(), "1 digit");
  entry_.prompt(&log_, digits_);
  EXPECT_EQ(entry_.refused(), "") << "a new prompt starts without a refusal";
  EXPECT_EQ(entry_.refusals(), 6);
}

}  // namespace
}  // namespace skav::station

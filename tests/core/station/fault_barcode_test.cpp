// A barcode scanner that sends garbage: every entry ends either with twelve hexadecimal digits
// or with the prompt again, and no run ever starts with anything else.

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "support/rig.h"

namespace skav::station {
namespace {

constexpr char kPrompt[] = "Input MAC Address : ";
constexpr link::Mac kBoardMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x07};

class BarcodeGarbage : public ::testing::Test {
 protected:
  BarcodeGarbage() {
    test::RigOptions options;
    options.barcode = 1;
    // Only the environment, which the silent board lets time out at once.
    options.examples = false;
    options.config = "[uboot_cfg]\nMem_type=spi\n";
    rig_ = std::make_unique<test::StationRig>(std::move(options));
    answerer_ = std::make_shared<test::ProbeAnswerer>(rig_->cable_board_end(), kBoardMac);
    rig_->set_peer([a = answerer_](const std::uint8_t* f, std::size_t n) { (*a)(f, n); });
  }

  // From any state to Connected with the prompt shown and the entry pending.
  void connect() {
    ASSERT_TRUE(rig_->step_until([&] { return station().state() == StationState::kSearching; }));
    answerer_->answer = true;
    station().step();
    answerer_->answer = false;
    ASSERT_EQ(station().state(), StationState::kConnected);
    ASSERT_TRUE(station().entry_pending());
  }

  bool ends_with_prompt() const {
    std::string text = rig_->log_text();
    return text.size() >= std::strlen(kPrompt) &&
           text.compare(text.size() - std::strlen(kPrompt), std::string::npos, kPrompt) == 0;
  }

  // Types `keys` and Enter, then checks the outcome and ticks once. True when the entry was
  // accepted (and the run started with it).
  bool enter(const std::string& keys) {
    rig_->type(keys + "\r");
    if (station().entry_pending()) {
      EXPECT_TRUE(ends_with_prompt()) << "after " << ::testing::PrintToString(keys);
      station().step();
      EXPECT_EQ(station().run_status(), RunStatus::kNoRun) << ::testing::PrintToString(keys);
      return false;
    }
    EXPECT_TRUE(MacDigits::all_hex(station().mac_digits())) << ::testing::PrintToString(keys);
    station().step();
    EXPECT_NE(station().run_status(), RunStatus::kNoRun);
    return true;
  }

  Station& station() { return *rig_->station; }

  std::unique_ptr<test::StationRig> rig_;
  std::shared_ptr<test::ProbeAnswerer> answerer_;
};

TEST_F(BarcodeGarbage, ControlCharactersLongAndNonHexEntriesAskAgain) {
  connect();
  EXPECT_FALSE(enter(std::string("\x1b[2J\x07\x01\x02\x03\x04\x05\x06\x0b\x0c", 12)));
  EXPECT_FALSE(enter("0011223344556"));           // thirteen
  EXPECT_FALSE(enter("0011223344556677889900"));  // far too many
  EXPECT_FALSE(enter("00112233445G"));            // a non-hex twelfth
  EXPECT_FALSE(enter("00:11:22:33:"));
  EXPECT_FALSE(enter(std::string("0011223344\x00" "5", 12)));
  EXPECT_FALSE(enter("0011 2233445"));
  EXPECT_FALSE(enter(""));
  EXPECT_FALSE(enter("\t\t\t\t\t\t\t\t\t\t\t\t"));
  EXPECT_NE(rig_->log_text().find("Not a MAC address: enter 12 hexadecimal digits\r\n"),
            std::string::npos);
  // A thirteenth character taken back by Backspace leaves a valid entry.
  EXPECT_TRUE(enter("00a0c914c829X\b"));
  EXPECT_EQ(station().mac_digits(),
            (MacDigits::Digits{'0', '0', 'a', '0', 'c', '9', '1', '4', 'c', '8', '2', '9'}));
}

TEST_F(BarcodeGarbage, RandomScannerNoiseNeverStartsARunWithAnInvalidAddress) {
  std::mt19937 random(20261209);
  const std::string alphabet =
      "0123456789abcdefABCDEF0123456789ghxyzGZ:- \t\x1b\x07\x08\x01\x7f\xff\x80[]";
  int accepted = 0;
  connect();
  for (int round = 0; round < 400; ++round) {
    std::string keys;
    if (round % 2 == 0) {
      // A label read almost right: twelve hex digits with up to two characters misread.
      for (int i = 0; i < 12; ++i) keys += "0123456789abcdefABCDEF"[random() % 22];
      for (int n = static_cast<int>(random() % 3); n > 0; --n)
        keys[random() % 12] = alphabet[random() % alphabet.size()];
    } else {
      int length = static_cast<int>(random() % 20);
      for (int i = 0; i < length; ++i) keys += alphabet[random() % alphabet.size()];
    }
    if (enter(keys)) {
      ++accepted;
      connect();
    }
    if (::testing::Test::HasFailure()) break;
  }
  // Valid entries do occur in the noise, so both outcomes were exercised.
  EXPECT_GT(accepted, 0);
}

}  // namespace
}  // namespace skav::station

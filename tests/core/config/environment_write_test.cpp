#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/config/environment.h"
#include "core/settings/file_settings_store.h"
#include "support/temp_dir.h"
#include "core/transfer/station_harness.h"

namespace skav::config {
namespace {

using namespace std::chrono_literals;

MacDigits::Digits digits_of(const std::string& text) {
  MacDigits::Digits d{};
  std::memcpy(d.data(), text.data(), 12);
  return d;
}

// The environment step against the simulated board over the in-process link, with a
// description file holding one MAC variable and a settings store on disk.
class EnvironmentWrite : public ::testing::Test {
 protected:
  EnvironmentWrite() : store_(dir_ / "settings.reg") {
    dir_.write("env.ini",
               "[variable]\nvar_no=1\nvariable00=MAC0\n[argument]\nMAC0=00:00:00:00:00:00\n");
    std::memset(&table_, 0, sizeof table_);
    SectionRecord& record = table_[kUbootCfg];
    std::strcpy(record.name, "uboot_cfg");
    std::strcpy(record.filename, "env.ini");
    std::strcpy(record.mem_type, "spi");
    std::strcpy(record.command, kMissing);
    record.mem_src_addr = 0;
    record.mem_dst_addr = 0x40000;
  }

  EnvironmentResult write(board::BoardOptions options = {}, std::chrono::milliseconds timeout = 10s) {
    test::BoardThread board(station_.wire().board_end(), options);
    transfer::Channel channel = station_.channel(timeout);
    EnvironmentResult result =
        write_environment_image(&log_, channel, table_, digits_, store_, dir_.path());
    exchanges_ = board.board().stats().headers;
    memory_ = board.board().memory(2, 0x40000, 64);
    return result;
  }

  std::string stored_machwid() {
    MacDigits::Digits d{};
    if (store_.machwid_read(nullptr, d) != 0) return "(none)";
    return std::string(d.data(), 12);
  }

  test::TempDir dir_;
  settings::FileSettingsStore store_;
  test::StationSide station_;
  SectionTable table_;
  StringLog log_;
  MacDigits digits_{digits_of("001122334455")};
  int exchanges_ = 0;
  std::vector<std::uint8_t> memory_;
};

TEST_F(EnvironmentWrite, APassingBoardAdvancesTheAddressAndKeepsTheBlock) {
  EnvironmentResult result = write();
  EXPECT_EQ(result.verdict, transfer::Verdict::kPass);
  EXPECT_EQ(log_.text(),
            "Find the UBOOT CONFIG file.....Success\r\nMAC Addr : 001122334455 Test...Pass\r\n");
  EXPECT_EQ(digits_.text(), "001122334456");
  EXPECT_EQ(stored_machwid(), "001122334456");
  std::string block(memory_.begin() + 5, memory_.begin() + 55);
  EXPECT_EQ(block, std::string("ethaddr=00:11:22:33:44:55\0MAC0=00:11:22:33:44:55\0", 50));
}

TEST_F(EnvironmentWrite, ACorruptedReadBackFailsButStillAdvancesTheAddress) {
  board::BoardOptions options;
  options.faults.corrupt_read = 1;
  EXPECT_EQ(write(options).verdict, transfer::Verdict::kFail);
  EXPECT_EQ(log_.text(),
            "Find the UBOOT CONFIG file.....Fail\r\nMAC Addr : 001122334455 Test...Fail\r\n");
  EXPECT_EQ(digits_.text(), "001122334456");
}

// The board may hold the address although its status failed: the address is used up, so that
// the next board cannot get it too.
TEST_F(EnvironmentWrite, AFailingReadBackStatusStillUsesUpTheAddress) {
  board::BoardOptions options;
  options.faults.fail_status = 2;
  EXPECT_EQ(write(options).verdict, transfer::Verdict::kFail);
  EXPECT_EQ(log_.text(), "Find the UBOOT CONFIG file.....Fail\r\n");
  EXPECT_EQ(digits_.text(), "001122334456");
  EXPECT_EQ(stored_machwid(), "001122334456");
}

TEST_F(EnvironmentWrite, ASilentBoardEndsTheStepWithTheTimeoutAndUsesUpTheAddress) {
  board::BoardOptions options;
  options.faults.silent_phase = board::SilentPhase::kAfterHeader;
  EnvironmentResult result = write(options, 1s);
  EXPECT_EQ(result.outcome, transfer::Outcome::kTimeout);
  EXPECT_EQ(result.verdict, transfer::Verdict::kTimeout);
  EXPECT_EQ(log_.text(), "Find the UBOOT CONFIG file.....Fail\r\nTarget not responding after 1 s\r\n");
  EXPECT_EQ(digits_.text(), "001122334456");
}

TEST_F(EnvironmentWrite, DigitsThatAreNotHexadecimalAreRefusedBeforeAnythingIsSent) {
  digits_.set(digits_of("00112233445Z"));
  EXPECT_EQ(write().verdict, transfer::Verdict::kFail);
  EXPECT_EQ(log_.text(),
            "MAC Addr : 00112233445Z is not 12 hexadecimal digits; environment not written\r\n");
  EXPECT_EQ(exchanges_, 0);
  EXPECT_EQ(stored_machwid(), "(none)");
  EXPECT_EQ(digits_.text(), "00112233445Z");
}

TEST_F(EnvironmentWrite, AMemoryTypeOtherThanSpiOrLpcSendsNothingAndLogsNothing) {
  std::strcpy(table_[kUbootCfg].mem_type, "nand");
  EXPECT_EQ(write().verdict, transfer::Verdict::kSkipped);
  EXPECT_EQ(log_.text(), "");
  EXPECT_EQ(exchanges_, 0);
  EXPECT_EQ(digits_.text(), "001122334455");
  EXPECT_EQ(stored_machwid(), "001122334456");
}

TEST_F(EnvironmentWrite, LpcInCapitalsIsAcceptedAndWithoutAMacVariableTheDigitsStay) {
  std::strcpy(table_[kUbootCfg].mem_type, "LPC");
  std::strcpy(table_[kUbootCfg].filename, "absent.ini");
  EXPECT_EQ(write().verdict, transfer::Verdict::kPass);
  EXPECT_EQ(digits_.text(), "001122334455");
  EXPECT_EQ(stored_machwid(), "(none)");
}

}  // namespace
}  // namespace skav::config

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "board/board_line.h"
#include "core/link/in_memory.h"
#include "core/settings/file_settings_store.h"
#include "core/station/station.h"
#include "support/temp_dir.h"

namespace skav::station {
namespace {

using test::read_file;

using namespace std::chrono_literals;

std::string pass_of_one_board(const std::string& mac, const std::string& before_env = "") {
  std::string diag = read_file(std::filesystem::path(SKAV_SOURCE_DIR) / "examples/images/diag.txt");
  return "Waiting connecting to Target...\r\n"
         "Connected...\r\n" +
         before_env +
         "Find the UBOOT CONFIG file.....Success\r\n"
         "MAC Addr : " +
         mac +
         " Test...Pass\r\n"
         "Section begin: [kernel]\r\n"
         "Success\r\n"
         "Section begin: [uboot]\r\n"
         "Success\r\n"
         "Section begin: [filesystem]\r\n"
         "Success\r\n"
         "Find the diag..................Success\r\n" +
         diag;
}

// The example configuration keeps the environment in spi memory at 0x40000.
std::string environment_of(const board::SimBoard& board) {
  std::vector<std::uint8_t> bytes = board.memory(2, 0x40000, 512);
  return std::string(bytes.begin(), bytes.end());
}

// The example configuration in a scratch directory, a station over the in-process link and a
// line of simulated boards on its far end. Ticks are driven by the test.
class ProductionRun : public ::testing::Test {
 protected:
  ProductionRun() : backend_(wire_), store_(dir_ / "settings.reg") {
    dir_.copy_from(std::filesystem::path(SKAV_SOURCE_DIR) / "examples");
  }
  ~ProductionRun() override {
    if (station_) station_->stop();
    if (line_) line_->stop();
  }

  void start(int barcode, int boards) {
    store_.number_write(nullptr, settings::kBarCode, barcode);
    StationOptions options;
    options.dir = dir_.path();
    options.transfer_timeout = 5s;
    station_ = std::make_unique<Station>(backend_, store_, log_, nullptr, options);
    station_->start_up();
    line_ = std::make_unique<board::BoardLine>(wire_.board_end(), boards);
    line_->start();
  }

  // Ticks until `predicate` holds; bounded so that a broken station fails instead of hanging.
  template <typename Predicate>
  bool tick_until(Predicate predicate) {
    for (int i = 0; i < 3000; ++i) {
      if (predicate()) return true;
      station_->tick();
      std::this_thread::sleep_for(2ms);
    }
    return predicate();
  }

  test::TempDir dir_;
  link::InMemoryWire wire_;
  link::InMemoryBackend backend_;
  settings::FileSettingsStore store_;
  StringLog log_;
  std::unique_ptr<Station> station_;
  std::unique_ptr<board::BoardLine> line_;
};

TEST_F(ProductionRun, TwoBoardsGetConsecutiveAddressesAndTheLogIsExact) {
  start(0, 2);
  ASSERT_TRUE(tick_until([&] { return station_->boards_done() == 2; })) << log_.text();
  EXPECT_EQ(log_.text(), pass_of_one_board("001122334455") + pass_of_one_board("001122334456"));

  const board::SimBoard* second = line_->finished_board(1);
  ASSERT_NE(second, nullptr);
  std::string block = environment_of(*second);
  EXPECT_NE(block.find("ethaddr=00:11:22:33:44:56"), std::string::npos);
  EXPECT_NE(block.find("MAC0=00:11:22:33:44:56"), std::string::npos);
  std::string kernel = read_file(dir_ / "images/kernel.bin");
  EXPECT_EQ(second->memory(1, 0x200000, static_cast<std::uint32_t>(kernel.size())),
            std::vector<std::uint8_t>(kernel.begin(), kernel.end()));

  MacDigits::Digits stored{};
  ASSERT_EQ(store_.machwid_read(nullptr, stored), 0);
  EXPECT_EQ(std::string(stored.data(), 12), "001122334457");

  std::string records = read_file(dir_ / kRecordsFile);
  EXPECT_EQ(records.rfind(kRecordsHeader, 0), 0u);
  EXPECT_NE(records.find(",sim0,02:00:00:00:00:01,00:11:22:33:44:55,pass,pass,pass,pass,pass,pass,"),
            std::string::npos)
      << records;
  EXPECT_NE(records.find(",sim0,02:00:00:00:00:02,00:11:22:33:44:56,pass,pass,pass,pass,pass,pass,"),
            std::string::npos)
      << records;
}

TEST_F(ProductionRun, BarcodeModeUsesTheTypedAddress) {
  start(1, 1);
  ASSERT_TRUE(tick_until([&] { return station_->entry_pending(); })) << log_.text();
  for (char c : std::string("0A1B2C3D4E5")) station_->key_char(c);
  station_->key_char(13);  // 11 characters: asked again
  EXPECT_TRUE(station_->entry_pending());
  for (char c : std::string("0A1B2C3D4E5F")) station_->key_char(c);
  station_->key_char('x');
  station_->key_char(8);
  station_->key_char(13);
  ASSERT_TRUE(tick_until([&] { return station_->boards_done() == 1; })) << log_.text();
  EXPECT_EQ(log_.text(),
            pass_of_one_board("0A1B2C3D4E5F",
                              "Input MAC Address : 0A1B2C3D4E5\r\n"
                              "Input MAC Address : 0A1B2C3D4E5F\r\n"));
  std::string block = environment_of(*line_->finished_board(0));
  EXPECT_NE(block.find("ethaddr=0A:1B:2C:3D:4E:5F"), std::string::npos);
}

TEST_F(ProductionRun, WithoutADiagnosticImageTheRunEndsWithSuccess) {
  dir_.write("config.ini", "[kernel]\nFilename=images/kernel.bin\nMem_type=nand\nCommand=write\n"
                           "Mem_Dst_addr=0x1000\n");
  start(0, 1);
  ASSERT_TRUE(tick_until([&] { return station_->boards_done() == 1; })) << log_.text();
  EXPECT_EQ(log_.text(),
            "Waiting connecting to Target...\r\nConnected...\r\n"
            "Section begin: [kernel]\r\nSuccess\r\nSuccess !!\r\n");
}

}  // namespace
}  // namespace skav::station

// `skav run` over the real link with an image missing: the connected board waits untouched,
// standard error says STATION ERROR once with the cause and what to do, no address is used and
// no record written; once the image is back the waiting board is programmed by itself.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "backends/pcap/pcap_backend.h"
#include "core/settings/file_settings_store.h"
#include "sim/board_line.h"
#include "support/netns.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace skav {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Reads `file` until it holds `part`, for at most `limit`. The text last read.
std::string wait_for_text(const fs::path& file, const std::string& part, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::string text;
  while (std::chrono::steady_clock::now() < deadline) {
    text = fs::exists(file) ? test::read_file(file) : std::string();
    if (text.find(part) != std::string::npos) break;
    std::this_thread::sleep_for(50ms);
  }
  return text;
}

std::string stored_address(const fs::path& settings) {
  MacDigits::Digits digits{};
  if (settings::FileSettingsStore(settings).machwid_read(nullptr, digits) != 0) return "";
  return MacDigits::text(digits);
}

TEST(StationError, AMissingImageHoldsTheBoardAndPuttingItBackProgramsIt) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  test::TempDir dir;
  dir.copy_from(fs::path(SKAV_SOURCE_DIR) / "examples");
  fs::rename(dir / "images/kernel.bin", dir / "kernel.aside");
  pcap::PcapBackend backend;
  link::OpenResult board_end = backend.open_for_board("skav1");
  ASSERT_TRUE(board_end.device) << board_end.error;
  sim::BoardLine line(*board_end.device, 1);
  line.start();

  const fs::path output = dir / "run.out";
  const fs::path settings = dir / "settings.reg";
  test::BackgroundProgram program({SKAV_BINARY, "run", "--interface", "skav0", "--boards", "1", "--no-barcode",
                                   "--mac", "0200000A0000", "--settings", settings.string(), "--timeout", "5",
                                   "-C", dir.path().string()},
                                  output.string());
  ASSERT_TRUE(program.started());
  const std::string fault = "STATION ERROR images/kernel.bin is missing: put it back or fix config.ini\n";
  std::string text = wait_for_text(output, fault, 20s);
  ASSERT_NE(text.find(fault), std::string::npos) << text;
  // The station looks again every second meanwhile; the fault is said once all the same.
  std::this_thread::sleep_for(1500ms);
  EXPECT_FALSE(fs::exists(dir / "skav-records.csv")) << "no record for a board not taken";
  EXPECT_EQ(stored_address(settings), "0200000A0000") << "no address used";
  EXPECT_EQ(line.finished_count(), 0);

  fs::rename(dir / "kernel.aside", dir / "images/kernel.bin");
  const int exit_code = program.wait(30s);
  line.stop();
  text = test::read_file(output);
  EXPECT_EQ(exit_code, 0) << text;
  EXPECT_EQ(count(text, "STATION ERROR "), 1u) << text;
  EXPECT_NE(text.find("MAC Addr : 0200000A0000 Test...Pass\r\n"), std::string::npos) << text;
  EXPECT_EQ(line.finished_count(), 1);
  const std::string records = test::read_file(dir / "skav-records.csv");
  EXPECT_EQ(count(records, "\n"), 2u) << records;
  EXPECT_NE(records.find(",skav0,02:00:00:00:00:01,02:00:00:0A:00:00,pass,pass,pass,pass,pass,pass,"),
            std::string::npos)
      << records;
  EXPECT_EQ(stored_address(settings), "0200000A0001");
}

}  // namespace
}  // namespace skav

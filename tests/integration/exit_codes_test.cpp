// `skav run` over the real link tells whoever started it how the run ended: 0 when every board
// passed, 1 when a board failed, 2 when the station ended unable to work.

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "backends/pcap/pcap_backend.h"
#include "core/settings/file_settings_store.h"
#include "sim/board_line.h"
#include "support/netns.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace skav {
namespace {

using namespace std::chrono_literals;

class ExitCodes : public ::testing::Test {
 protected:
  ExitCodes() { dir_.copy_from(std::filesystem::path(SKAV_SOURCE_DIR) / "examples"); }
  std::vector<std::string> command(int boards) const {
    return {SKAV_BINARY, "run", "--interface", "skav0", "--boards", std::to_string(boards),
            "--no-barcode", "--settings", (dir_ / "settings.reg").string(), "--timeout", "5",
            "-C", dir_.path().string()};
  }
  // The simulated boards at the far end of the pair, `count` of them in a row.
  std::unique_ptr<sim::BoardLine> boards(const sim::BoardOptions& options, int count) {
    link::OpenResult board_end = backend_.open_for_board("skav1");
    if (!board_end.device) return nullptr;
    device_ = std::move(board_end.device);
    auto line = std::make_unique<sim::BoardLine>(*device_, options, count);
    line->start();
    return line;
  }
  test::TempDir dir_;
  pcap::PcapBackend backend_;
  std::unique_ptr<link::FrameDevice> device_;
};

TEST_F(ExitCodes, EveryBoardPassedIsZero) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  auto line = boards(sim::BoardOptions{}, 2);
  ASSERT_TRUE(line);
  test::ProgramResult result = test::run_program(command(2), 60s);
  line->stop();
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_NE(result.err.find("\n2 PASS "), std::string::npos) << result.err;
}

TEST_F(ExitCodes, ABoardWhoseReadBackDiffersIsOne) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  sim::BoardOptions corrupt;
  corrupt.faults.corrupt_read = 4;  // the filesystem's read-back
  auto line = boards(corrupt, 1);
  ASSERT_TRUE(line);
  test::ProgramResult result = test::run_program(command(1), 60s);
  line->stop();
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_NE(result.err.find("1 FAIL "), std::string::npos) << result.err;
}

// The store's next address is a group address: the pool has none to give, the board waits, and
// the operator ends the station.
TEST_F(ExitCodes, AStationStoppedWithoutAUsablePoolIsTwo) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  MacDigits::Digits group{};
  ASSERT_TRUE(MacDigits::parse("01005E000001", group));
  ASSERT_EQ(settings::FileSettingsStore(dir_ / "settings.reg").machwid_write(nullptr, group), 0);
  auto line = boards(sim::BoardOptions{}, 1);
  ASSERT_TRUE(line);
  const std::filesystem::path output = dir_ / "station.txt";
  test::BackgroundProgram station(command(1), output.string());
  ASSERT_TRUE(station.started());
  const std::string waiting = "MAC address pool unavailable, waiting: ";
  // Bounded: the station says so within a second of the board's answer.
  for (int i = 0; i < 600 && test::read_file(output).find(waiting) == std::string::npos; ++i)
    std::this_thread::sleep_for(50ms);
  ASSERT_NE(test::read_file(output).find(waiting), std::string::npos) << test::read_file(output);
  station.send(SIGINT);
  EXPECT_EQ(station.wait(30s), 2) << test::read_file(output);
  line->stop();
  EXPECT_EQ(line->finished_count(), 0) << "no board was programmed";
}

}  // namespace
}  // namespace skav

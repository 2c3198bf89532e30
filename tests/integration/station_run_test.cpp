#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <thread>

#include "sim/board_line.h"
#include "sim/sim_board.h"
#include "core/settings/file_settings_store.h"
#include "backends/pcap/pcap_backend.h"
#include "support/netns.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace skav {
namespace {

using test::read_file;

using namespace std::chrono_literals;

int count_lines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class StationRun : public ::testing::Test {
 protected:
  StationRun() {
    dir_.copy_from(std::filesystem::path(SKAV_SOURCE_DIR) / "examples");
  }
  test::ProgramResult run_station(int boards, const std::string& timeout) {
    return test::run_program({SKAV_BINARY, "run", "--interface", "skav0", "--boards",
                              std::to_string(boards), "--no-barcode", "--mac", "0200000A0000",
                              "--settings", (dir_ / "settings.reg").string(), "--timeout", timeout,
                              "-C", dir_.path().string()},
                             120s);
  }
  test::TempDir dir_;
};

TEST_F(StationRun, ThreeBoardsOverTheRealLinkGetConsecutiveAddresses) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  pcap::PcapBackend backend;
  link::OpenResult board_end = backend.open_for_board("skav1");
  ASSERT_TRUE(board_end.device) << board_end.error;
  sim::BoardLine line(*board_end.device, 3);
  line.start();
  // The stored adapter is another: --interface holds for this run only.
  ASSERT_EQ(settings::FileSettingsStore(dir_ / "settings.reg").number_write(nullptr, settings::kNetIF, 7), 0);

  test::ProgramResult result = run_station(3, "10");
  line.stop();
  ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
  EXPECT_NE(result.out.find("MAC Addr : 0200000A0000 Test...Pass\r\n"), std::string::npos);
  EXPECT_NE(result.out.find("MAC Addr : 0200000A0001 Test...Pass\r\n"), std::string::npos);
  EXPECT_NE(result.out.find("MAC Addr : 0200000A0002 Test...Pass\r\n"), std::string::npos);
  EXPECT_EQ(line.finished_count(), 3);
  std::string records = read_file(dir_ / "skav-records.csv");
  EXPECT_EQ(count_lines(records), 4) << records;
  EXPECT_NE(records.find(",skav0,02:00:00:00:00:03,02:00:00:0A:00:02,pass,pass,pass,pass,pass,pass,"),
            std::string::npos)
      << records;
  std::int32_t net_if = -1;
  EXPECT_EQ(settings::FileSettingsStore(dir_ / "settings.reg").number_read(nullptr, settings::kNetIF, net_if), 0);
  EXPECT_EQ(net_if, 7);
}

}  // namespace
}  // namespace skav

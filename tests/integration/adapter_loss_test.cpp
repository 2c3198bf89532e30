// An adapter that goes away (mid-run, or between boards) and comes back: the log says so once,
// in the station's words and without blaming the board, and the station reopens it by name
// without a restart.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/netns.h"
#include "support/rig.h"

namespace skav {
namespace {

bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Makes the pair again and plugs a second, sound board: the log says once that the adapter is
// back, and the board gets the next address and passes.
void expect_back_and_second_board_passes(test::StationRig& rig) {
  ASSERT_TRUE(run("ip link add skav0 type veth peer name skav1 && ip link set skav0 up && "
                  "ip link set skav1 up"));
  ASSERT_TRUE(rig.cable().reconnect());
  sim::BoardOptions second;
  second.mac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02};
  sim::SimBoard* board = rig.plug(second);
  ASSERT_TRUE(rig.until_boards_done(2)) << rig.log_text();
  EXPECT_EQ(count(rig.log_text(), "is gone"), 1u) << rig.log_text();
  EXPECT_EQ(count(rig.log_text(), "Network Interface skav0 is back\r\n"), 1u) << rig.log_text();
  EXPECT_EQ(test::ethaddr_of(*board), test::written_address(1));
  EXPECT_EQ(rig.records().at(1).verdict, "pass");
}

TEST(AdapterLoss, TheStationSaysTheAdapterIsGoneAndReopensItWhenItIsBack) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  test::RigOptions options;
  options.cable = test::veth_cable();
  ASSERT_TRUE(options.cable);
  test::StationRig rig(std::move(options));
  // A slow first board: the veth pair goes away while it works on a Status Frame.
  sim::BoardOptions slow;
  slow.status_delay = std::chrono::milliseconds(200);
  sim::SimBoard* first = rig.plug(slow);
  ASSERT_TRUE(rig.step_until([&] { return first->stats().headers >= 1; })) << rig.log_text();
  ASSERT_TRUE(run("ip link del skav0"));
  ASSERT_TRUE(rig.until_boards_done(1)) << rig.log_text();
  EXPECT_NE(rig.log_text().find("Fail\r\nNetwork Interface skav0 is gone\r\n"), std::string::npos)
      << rig.log_text();
  EXPECT_EQ(rig.records().at(0).verdict, "adapter-lost");

  // Searching without the adapter says nothing more.
  rig.step_until([] { return false; }, std::chrono::milliseconds(1500));
  EXPECT_EQ(count(rig.log_text(), "is gone"), 1u) << rig.log_text();
  EXPECT_FALSE(rig.station->snapshot()->adapter_open);

  expect_back_and_second_board_passes(rig);
  EXPECT_EQ(rig.log_text().find("Target not responding"), std::string::npos) << rig.log_text();
}

// Between boards nothing fails loudly: the capture handle on the deleted interface just goes
// silent. The station notices all the same, and takes the next board once the adapter is back.
TEST(AdapterLoss, AnAdapterRemovedBetweenBoardsIsNoticedAndReopened) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  test::RigOptions options;
  options.cable = test::veth_cable();
  ASSERT_TRUE(options.cable);
  test::StationRig rig(std::move(options));
  rig.plug({});
  ASSERT_TRUE(rig.until_boards_done(1)) << rig.log_text();
  rig.unplug();
  ASSERT_TRUE(run("ip link del skav0"));
  rig.step_until([] { return false; }, std::chrono::seconds(3));
  EXPECT_EQ(count(rig.log_text(), "Network Interface skav0 is gone\r\n"), 1u) << rig.log_text();
  EXPECT_FALSE(rig.station->snapshot()->adapter_open);

  expect_back_and_second_board_passes(rig);
}

}  // namespace
}  // namespace skav

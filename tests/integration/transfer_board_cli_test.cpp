// `skav board`: the simulated board as a program on a real adapter.

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "core/link/discovery.h"
#include "core/link/link.h"
#include "core/transfer/command.h"
#include "backends/pcap/pcap_backend.h"
#include "support/netns.h"
#include "support/run_program.h"

namespace skav {
namespace {

TEST(SkavBoard, AnAdapterThatCannotBeOpenedIsAClearErrorWithExitCode1) {
  test::ProgramResult result = test::run_program(
      {SKAV_BINARY, "board", "--interface", "skav-no-such-adapter"}, std::chrono::seconds(20));
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.err.find("cannot open skav-no-such-adapter"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("cap_net_raw"), std::string::npos) << result.err;
}

TEST(SkavBoard, ServesTheGivenNumberOfBoardsAndReportsEachOne) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  test::ProgramResult result;
  std::thread program([&] {
    result = test::run_program({SKAV_BINARY, "board", "--interface", "skav1", "--mac",
                                "02:00:00:00:00:41", "--boards", "2"},
                               std::chrono::seconds(60));
  });

  pcap::PcapBackend backend;
  link::Link station(backend);
  StringLog log;
  link::AdapterList list;
  station.enumerate_adapters(&log, list);
  int number = list.number_of("skav0");
  bool opened = number > 0 && station.open_adapter(&log, number) == 1;
  std::vector<std::string> found;
  if (opened) {
    transfer::Channel channel{station};
    channel.timeout = std::chrono::seconds(10);
    for (int board = 0; board < 2; ++board) {
      // The program needs a moment to open its adapter: probe until a board answers.
      bool answered = false;
      for (int attempt = 0; attempt < 200 && !answered; ++attempt)
        answered = link::find_target(station) == 1;
      if (!answered) break;
      found.push_back(link::format_mac(station.target_mac()));
      transfer::CommandHeader header;
      header.memory_type = transfer::kSpi;
      header.length = 4;
      std::uint8_t data[4] = {1, 2, 3, 4};
      if (!transfer::command_exchange(channel, header, data, transfer::Direction::kSend).success)
        break;
    }
    link::find_target(station);  // the search for a third board ends the second
  }
  program.join();
  ASSERT_TRUE(opened) << log.text();
  EXPECT_EQ(found, (std::vector<std::string>{"02:00:00:00:00:41", "02:00:00:00:00:42"}));
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_FALSE(result.timed_out);
  EXPECT_NE(result.err.find("board 1 finished: 02:00:00:00:00:41, 1 exchanges\n"),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("board 2 finished: 02:00:00:00:00:42, 1 exchanges\n"),
            std::string::npos)
      << result.err;
}

}  // namespace
}  // namespace skav

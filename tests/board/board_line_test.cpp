#include "board/board_line.h"

#include <gtest/gtest.h>

#include <cstring>

#include "core/link/discovery.h"
#include "core/transfer/command.h"
#include "core/transfer/station_harness.h"

namespace skav::board {
namespace {

using test::StationSide;
using transfer::Channel;
using transfer::CommandHeader;
using transfer::Direction;
using transfer::Outcome;

using test::discover;
using test::no_pause;

bool write_byte(Channel& channel, std::uint8_t value, std::uint8_t type = transfer::kNand) {
  CommandHeader h;
  h.memory_type = type;
  h.command = transfer::kWrite;
  h.destination = 0x40;
  h.length = 1;
  return transfer::command_exchange(channel, h, &value, Direction::kSend).success;
}

TEST(MacPlus, CarriesAcrossBytesAndWrapsAtTheTop) {
  EXPECT_EQ(link::format_mac(mac_plus({0x02, 0, 0, 0, 0, 0xff}, 1)), "02:00:00:00:01:00");
  EXPECT_EQ(link::format_mac(mac_plus({0x02, 0, 0, 0, 0, 0x01}, 0x1000)), "02:00:00:00:10:01");
  EXPECT_EQ(link::format_mac(mac_plus({0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, 1)),
            "00:00:00:00:00:00");
}

TEST(BoardLine, BoardsFollowOneAnotherWithConsecutiveAddresses) {
  StationSide station;
  BoardOptions options;
  options.mac = {0x02, 0x00, 0x00, 0x00, 0x00, 0xfe};
  BoardLine line(station.wire().board_end(), options, 3);
  std::vector<std::string> announced;
  line.set_on_finished([&](int index, const SimBoard& board) {
    announced.push_back(std::to_string(index) + " " + link::format_mac(board.mac()));
  });
  line.start();
  Channel channel = station.channel();
  std::vector<std::string> found;
  for (std::uint8_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(discover(station.link())) << "board " << int{i};
    found.push_back(link::format_mac(station.link().target_mac()));
    ASSERT_TRUE(write_byte(channel, static_cast<std::uint8_t>(0xa0 + i)));
  }
  // The station searches once more: the third board finishes and nobody is left to answer.
  EXPECT_EQ(link::find_target(station.link(), no_pause), 0);
  ASSERT_TRUE(line.wait_finished(3, std::chrono::seconds(10)));
  line.stop();

  EXPECT_EQ(found, (std::vector<std::string>{"02:00:00:00:00:fe", "02:00:00:00:00:ff",
                                             "02:00:00:00:01:00"}));
  EXPECT_EQ(announced, (std::vector<std::string>{"0 02:00:00:00:00:fe", "1 02:00:00:00:00:ff",
                                                 "2 02:00:00:00:01:00"}));
  EXPECT_TRUE(line.done());
  EXPECT_EQ(line.current(), nullptr);
  for (int i = 0; i < 3; ++i) {
    const SimBoard* board = line.finished_board(i);
    ASSERT_NE(board, nullptr);
    EXPECT_EQ(board->memory(transfer::kNand, 0x40, 1)[0], 0xa0 + i) << "each board its own memory";
    EXPECT_EQ(board->stats().exchanges, 1);
    EXPECT_TRUE(board->finished_on_probe());
  }
}

TEST(BoardLine, ABoardThatRanItsDiagnosticImageLeavesAfterItsEndMarker) {
  StationSide station;
  BoardLine line(station.wire().board_end(), BoardOptions{}, 0, false);
  line.start();
  Channel channel = station.channel();
  ASSERT_TRUE(discover(station.link()));
  CommandHeader exe;
  exe.memory_type = transfer::kMem;
  exe.command = transfer::kExe;
  exe.length = 3;
  std::uint8_t image[3] = {'h', 'i', '\n'};
  ASSERT_TRUE(transfer::command_exchange(channel, exe, image, Direction::kSend).success);
  ASSERT_TRUE(discover(station.link()));
  EXPECT_EQ(link::format_mac(station.link().target_mac()), "02:00:00:00:00:01")
      << "the diagnostic image answers from the same board";
  std::uint8_t block[256];
  ASSERT_EQ(transfer::block_receive(channel, block, sizeof block), Outcome::kOk);
  EXPECT_STREQ(reinterpret_cast<const char*>(block), "hi\n");
  ASSERT_EQ(transfer::block_receive(channel, block, sizeof block), Outcome::kOk);
  EXPECT_EQ(std::memcmp(block, kDiagEndMarker.data(), kDiagEndMarker.size()), 0);
  ASSERT_TRUE(line.wait_finished(1, std::chrono::seconds(10)));

  ASSERT_TRUE(discover(station.link()));
  EXPECT_EQ(link::format_mac(station.link().target_mac()), "02:00:00:00:00:02");
  line.stop();
  std::vector<FinishedBoard> finished = line.finished();
  ASSERT_EQ(finished.size(), 1u);
  EXPECT_TRUE(finished[0].diag_ran);
  EXPECT_EQ(finished[0].stats.exchanges, 1);
  EXPECT_EQ(line.finished_board(0), nullptr) << "not kept when asked not to";
  EXPECT_FALSE(line.done()) << "an endless line is never done";
}

TEST(BoardLine, RunReturnsWhenItsStopFlagIsSetOrItsBoardsAreDone) {
  StationSide station;
  BoardLine line(station.wire().board_end(), 1);
  std::atomic<bool> stop{true};
  line.run(stop);  // returns at once
  EXPECT_EQ(line.finished_count(), 0);

  // One board: after its exchange and the next probe, run() ends on its own.
  stop = false;
  std::thread runner([&] { line.run(stop); });
  struct Joiner {
    std::atomic<bool>& stop;
    std::thread& thread;
    ~Joiner() {  // on a failed assertion: stop the line before leaving
      stop = true;
      if (thread.joinable()) thread.join();
    }
  } joiner{stop, runner};
  Channel channel = station.channel();
  ASSERT_TRUE(discover(station.link()));
  ASSERT_TRUE(write_byte(channel, 1));
  link::find_target(station.link(), no_pause);
  ASSERT_TRUE(line.wait_finished(1, std::chrono::seconds(10)));
  runner.join();  // without the stop flag: the line ended by itself
  EXPECT_TRUE(line.done());
}

}  // namespace
}  // namespace skav::board

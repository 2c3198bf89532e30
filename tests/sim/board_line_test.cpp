#include "sim/board_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "core/link/discovery.h"
#include "core/link/in_memory.h"
#include "core/station/steps.h"
#include "core/transfer/command.h"
#include "support/link_rig.h"

namespace skav::sim {
namespace {

using test::LinkRig;
using transfer::Channel;
using transfer::CommandHeader;
using transfer::Direction;
using transfer::Outcome;

bool write_byte(Channel& channel, std::uint8_t value, std::uint8_t type = transfer::kNand) {
  CommandHeader h;
  h.memory_type = type;
  h.command = transfer::kWrite;
  h.destination = 0x40;
  h.length = 1;
  return transfer::command_exchange(channel, h, &value, Direction::kSend).success;
}

bool finds_the_board(link::Link& link) { return link::find_target(link) == 1; }

TEST(MacPlus, CarriesAcrossBytesAndWrapsAtTheTop) {
  EXPECT_EQ(link::format_mac(mac_plus({0x02, 0, 0, 0, 0, 0xff}, 1)), "02:00:00:00:01:00");
  EXPECT_EQ(link::format_mac(mac_plus({0x02, 0, 0, 0, 0, 0x01}, 0x1000)), "02:00:00:00:10:01");
  EXPECT_EQ(link::format_mac(mac_plus({0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, 1)),
            "00:00:00:00:00:00");
}

TEST(BoardLine, BoardsFollowOneAnotherWithConsecutiveAddresses) {
  LinkRig rig;
  BoardOptions options;
  options.mac = {0x02, 0x00, 0x00, 0x00, 0x00, 0xfe};
  BoardLine& line = rig.plug_line(options, 3);
  std::vector<std::string> announced;
  line.set_on_finished([&](int index, const SimBoard& board) {
    announced.push_back(std::to_string(index) + " " + link::format_mac(board.mac()));
  });
  Channel channel = rig.channel();
  std::vector<std::string> found;
  for (std::uint8_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(finds_the_board(rig.link())) << "board " << int{i};
    found.push_back(link::format_mac(rig.link().target_mac()));
    ASSERT_TRUE(write_byte(channel, static_cast<std::uint8_t>(0xa0 + i)));
  }
  // The station searches once more: the third board finishes and nobody is left to answer.
  EXPECT_FALSE(finds_the_board(rig.link()));

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
  LinkRig rig;
  BoardLine& line = rig.plug_line(BoardOptions{}, 0, false);
  Channel channel = rig.channel();
  ASSERT_TRUE(finds_the_board(rig.link()));
  CommandHeader exe;
  exe.memory_type = transfer::kMem;
  exe.command = transfer::kExe;
  exe.length = 3;
  std::uint8_t image[3] = {'h', 'i', '\n'};
  ASSERT_TRUE(transfer::command_exchange(channel, exe, image, Direction::kSend).success);
  StringLog log;
  ASSERT_EQ(station::relay_diagnostic_text(&log, channel), Outcome::kOk);
  EXPECT_EQ(link::format_mac(rig.link().target_mac()), "02:00:00:00:00:01")
      << "the diagnostic image answers from the same board";
  EXPECT_EQ(log.text(), "hi\n");
  ASSERT_EQ(line.finished_count(), 1);

  ASSERT_TRUE(finds_the_board(rig.link()));
  EXPECT_EQ(link::format_mac(rig.link().target_mac()), "02:00:00:00:00:02");
  std::vector<FinishedBoard> finished = line.finished();
  ASSERT_EQ(finished.size(), 1u);
  EXPECT_TRUE(finished[0].diag_ran);
  EXPECT_EQ(finished[0].stats.exchanges, 1);
  EXPECT_EQ(line.finished_board(0), nullptr) << "not kept when asked not to";
  EXPECT_FALSE(line.done()) << "an endless line is never done";
}

// The line on a thread of its own, receiving for itself on a wire: the station's side waits
// for it in real time, a few receives' worth.
TEST(BoardLine, RunReturnsWhenItsStopFlagIsSetOrItsBoardsAreDone) {
  link::InMemoryWire wire;
  link::InMemoryBackend backend(wire);
  link::Link link(backend);
  link::AdapterList list;
  link.enumerate_adapters(nullptr, list);
  ASSERT_EQ(link.open_adapter(nullptr, 1), 1);
  BoardLine line(wire.board_end(), 1);
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
  Channel channel{link, std::chrono::seconds(10)};
  bool found = false;
  // The board answers within the first receive almost always; a loaded machine may need more.
  for (int call = 0; call < 50 && !found; ++call) found = finds_the_board(link);
  ASSERT_TRUE(found);
  ASSERT_TRUE(write_byte(channel, 1));
  link::find_target(link);
  ASSERT_TRUE(line.wait_finished(1, std::chrono::seconds(10)));
  runner.join();  // without the stop flag: the line ended by itself
  EXPECT_TRUE(line.done());
}

}  // namespace
}  // namespace skav::sim

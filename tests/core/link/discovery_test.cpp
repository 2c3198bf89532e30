#include "core/link/discovery.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "board/sim_board.h"
#include "board_script.h"
#include "core/link/in_memory.h"
#include "core/log.h"

namespace skav::link {
namespace {

using test::Bytes;
using test::make_frame;
using test::pattern;

constexpr Mac kBroadcast = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
constexpr Mac kPreviousTarget = {0x02, 0x00, 0x00, 0x00, 0x00, 0x42};

class DiscoveryTest : public ::testing::Test {
 protected:
  DiscoveryTest() : backend_(wire_, test::kHostMac), link_(backend_), board_(wire_.board_end()) {}

  void open() {
    AdapterList list;
    link_.enumerate_adapters(&log_, list);
    ASSERT_EQ(link_.open_adapter(&log_, 1), 1) << log_.text();
  }

  // Counts the pauses instead of sleeping.
  int find() {
    return find_target(link_, [this](std::chrono::milliseconds duration) {
      EXPECT_EQ(duration, std::chrono::milliseconds(10));
      ++pauses_;
    });
  }

  Bytes reply_from(const Mac& board, const Mac& destination = kBroadcast) {
    return make_frame(destination, board, kEtherReply, Bytes(46, 0));
  }

  InMemoryWire wire_;
  InMemoryBackend backend_;
  Link link_;
  test::BoardScript board_;
  StringLog log_;
  int pauses_ = 0;
};

TEST_F(DiscoveryTest, ProbeBeforeAnyDataFrameIsSixtyBytesWithAZeroPayload) {
  open();
  EXPECT_EQ(find(), 0);
  const Bytes expected = make_frame(kBroadcast, test::kHostMac, kEtherProbe, Bytes(46, 0));
  EXPECT_EQ(board_.take(), expected);
  EXPECT_TRUE(board_.take().empty()) << "exactly one probe per call";
}

TEST_F(DiscoveryTest, ProbeCarriesTheStartOfTheLastDataFramesPayload) {
  open();
  link_.set_target_mac(test::kBoardMac);
  const Bytes first = pattern(200, 0x10);
  const Bytes last = pattern(60, 0x80);
  ASSERT_EQ(link_.send_data_frame(first.data(), 200), 0);
  ASSERT_EQ(link_.send_data_frame(last.data(), 60), 0);
  board_.take();
  board_.take();

  find();
  const Bytes probe = board_.take();
  ASSERT_EQ(probe.size(), 60u) << "the probe is 60 bytes whatever the payload area holds";
  EXPECT_EQ(probe, make_frame(kBroadcast, test::kHostMac, kEtherProbe,
                              Bytes(last.begin(), last.begin() + 46)));

  // A data frame after the probe still gets its own header.
  ASSERT_EQ(link_.send_data_frame(last.data(), 1), 0);
  EXPECT_EQ(board_.take(), make_frame(test::kBoardMac, test::kHostMac, kEtherHostData, {0x80}));
}

TEST_F(DiscoveryTest, ReplyAfterOneUnrelatedFrameIsFoundAfterOnePause) {
  open();
  board_.send(make_frame(kBroadcast, test::kOtherMac, 0x0800, pattern(46)));
  // Addressed to another station: replies are matched by EtherType alone.
  board_.send(reply_from(test::kBoardMac, test::kOtherMac));
  EXPECT_EQ(find(), 1);
  EXPECT_EQ(pauses_, 1);
  EXPECT_EQ(link_.target_mac(), test::kBoardMac);
  EXPECT_EQ(log_.text(), "") << "discovery logs nothing";
}

TEST_F(DiscoveryTest, ThreeUnrelatedFramesUseUpTheAttemptsAndKeepTheTargetMac) {
  open();
  link_.set_target_mac(kPreviousTarget);
  board_.send(make_frame(kBroadcast, test::kOtherMac, 0x0806, pattern(46)));
  board_.send(make_frame(test::kHostMac, test::kOtherMac, kEtherTargetData, pattern(46)));
  board_.send(make_frame(test::kHostMac, test::kOtherMac, kEtherProbe, pattern(46)));
  board_.send(reply_from(test::kBoardMac));

  EXPECT_EQ(find(), 0);
  EXPECT_EQ(pauses_, 3);
  EXPECT_EQ(link_.target_mac(), kPreviousTarget);

  // The reply behind the three was left for the next call, which finds it at once.
  pauses_ = 0;
  EXPECT_EQ(find(), 1);
  EXPECT_EQ(pauses_, 0);
  EXPECT_EQ(link_.target_mac(), test::kBoardMac);
}

TEST_F(DiscoveryTest, SilenceGivesZeroAfterThreePauses) {
  open();
  EXPECT_EQ(find(), 0);
  EXPECT_EQ(pauses_, 3);
  EXPECT_EQ(link_.target_mac(), (Mac{}));
}

TEST_F(DiscoveryTest, WithoutAnOpenAdapterNothingIsSentAndNothingFound) {
  backend_.fail_open(true);
  AdapterList list;
  link_.enumerate_adapters(&log_, list);
  ASSERT_EQ(link_.open_adapter(&log_, 1), 0);
  board_.send(reply_from(test::kBoardMac));
  EXPECT_EQ(find(), 0);
  EXPECT_EQ(pauses_, 3);
  EXPECT_EQ(wire_.to_board().size(), 0u);
  EXPECT_EQ(wire_.to_station().size(), 1u);
}

TEST_F(DiscoveryTest, FindsTheSimulatedBoard) {
  open();
  board::BoardOptions options;
  options.mac = test::kBoardMac;
  board::SimBoard board(wire_.board_end(), options);
  std::atomic<bool> stop{false};
  std::thread board_thread([&] { board.run(stop); });
  int found = 0;
  // The board answers within the first receive almost always; a loaded machine may need more.
  for (int call = 0; call < 50 && found == 0; ++call) found = find_target(link_);
  stop = true;
  board_thread.join();
  ASSERT_EQ(found, 1);
  EXPECT_EQ(link_.target_mac(), test::kBoardMac);
}

}  // namespace
}  // namespace skav::link

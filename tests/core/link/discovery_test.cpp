#include "core/link/discovery.h"

#include <gtest/gtest.h>

#include "core/log.h"
#include "core/transfer/block_transfer.h"
#include "support/link_rig.h"

namespace skav::link {
namespace {

using std::chrono::milliseconds;
using test::Bytes;
using test::make_frame;
using test::pattern;

constexpr Mac kPreviousTarget = {0x02, 0x00, 0x00, 0x00, 0x00, 0x42};

class DiscoveryTest : public ::testing::Test {
 protected:
  DiscoveryTest() : rig_({test::kAdapterMac, false}), link_(rig_.link()) {}

  void open() {
    AdapterList list;
    link_.enumerate_adapters(&log_, list);
    ASSERT_EQ(link_.open_adapter(&log_, 1), 1) << log_.text();
  }

  // Find Target, noting how long it took on the link's clock: its pauses after each miss, and
  // the receives that found nothing.
  int find() {
    Clock::time_point start = rig_.clock().now();
    int found = find_target(link_);
    took_ = std::chrono::duration_cast<milliseconds>(rig_.clock().now() - start);
    return found;
  }
  static milliseconds pauses(int n) { return n * kDiscoveryPause; }
  static milliseconds silent_receives(int n) { return n * kReadTimeout; }

  Bytes reply_from(const Mac& board, const Mac& destination = kBroadcast) {
    return make_frame(destination, board, kEtherReply, Bytes(46, 0));
  }
  // The probes sent since the last call.
  std::vector<Bytes> probes() {
    std::vector<Bytes> out;
    for (const test::WireEvent& e : rig_.sent())
      if (e.ether_type == kEtherProbe) out.push_back(e.frame);
    rig_.clear();
    return out;
  }

  test::LinkRig rig_;
  Link& link_;
  StringLog log_;
  milliseconds took_{};
};

TEST_F(DiscoveryTest, ProbeBeforeAnyDataFrameIsSixtyBytesWithAZeroPayload) {
  open();
  EXPECT_EQ(find(), 0);
  const Bytes expected = make_frame(kBroadcast, test::kAdapterMac, kEtherProbe, Bytes(46, 0));
  EXPECT_EQ(probes(), std::vector<Bytes>{expected}) << "exactly one probe per call";
}

TEST_F(DiscoveryTest, ProbeCarriesTheStartOfTheLastDataFramesPayload) {
  open();
  link_.set_target_mac(test::kTargetMac);
  const Bytes first = pattern(200, 0x10);
  const Bytes last = pattern(60, 0x80);
  ASSERT_EQ(link_.send_data_frame(first.data(), 200), 0);
  ASSERT_EQ(link_.send_data_frame(last.data(), 60), 0);
  rig_.clear();

  find();
  std::vector<Bytes> sent = probes();
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_EQ(sent[0].size(), 60u) << "the probe is 60 bytes whatever the payload area holds";
  EXPECT_EQ(sent[0], make_frame(kBroadcast, test::kAdapterMac, kEtherProbe,
                                Bytes(last.begin(), last.begin() + 46)));

  // A data frame after the probe still gets its own header.
  ASSERT_EQ(link_.send_data_frame(last.data(), 1), 0);
  std::vector<test::WireEvent> after = rig_.sent();
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].frame, make_frame(test::kTargetMac, test::kAdapterMac, kEtherHostData, {last[0]}));
}

// A Block Send that the board left unanswered, and the probe that follows it.
struct ProbeCase {
  const char* name;
  std::uint32_t n;    // block length
  int ack_after;      // the board acknowledges after this frame, then falls silent (0: never)
  Bytes probe;        // the whole probe, golden
};

// Block byte i is the low byte of (its offset in its frame + 0x40 * its frame's number), so that
// each frame and each offset shows.
Bytes numbered_block(std::uint32_t n) {
  Bytes data(n);
  for (std::uint32_t i = 0; i < n; ++i)
    data[i] = static_cast<std::uint8_t>(i % transfer::kChunkSize + 0x40 * (i / transfer::kChunkSize));
  return data;
}

TEST(DiscoveryProbe, AfterABlockSendItCarriesTheFirstBytesOfTheLastDataFrameSent) {
  const Bytes header = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02, 0x53, 0x4b, 0x41, 0x56, 0x00, 0x80, 0x11};
  auto probe = [&header](Bytes payload) {
    Bytes frame;
    frame.reserve(header.size() + payload.size());
    frame.insert(frame.end(), header.begin(), header.end());
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
  };
  const ProbeCase cases[] = {
      // Three full frames: the third one's first 46 bytes.
      {"full last frame", 3 * 1408, 0,
       probe({0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x8b,
              0x8c, 0x8d, 0x8e, 0x8f, 0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
              0x98, 0x99, 0x9a, 0x9b, 0x9c, 0x9d, 0x9e, 0x9f, 0xa0, 0xa1, 0xa2, 0xa3,
              0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xab, 0xac, 0xad})},
      // A 10-byte last frame: its 10 bytes, then bytes 10 to 45 of the frame before it.
      {"short last frame", 1408 + 10, 0,
       probe({0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x0a, 0x0b,
              0x0c, 0x0d, 0x0e, 0x0f, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,
              0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f, 0x20, 0x21, 0x22, 0x23,
              0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x2b, 0x2c, 0x2d})},
      // The short frame alone in the second window: the frame before it went in the first.
      {"short frame alone in its window", 16 * 1408 + 10, 16,
       probe({0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0xca, 0xcb,
              0xcc, 0xcd, 0xce, 0xcf, 0xd0, 0xd1, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7,
              0xd8, 0xd9, 0xda, 0xdb, 0xdc, 0xdd, 0xde, 0xdf, 0xe0, 0xe1, 0xe2, 0xe3,
              0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xeb, 0xec, 0xed})},
  };
  for (const ProbeCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::LinkRig rig;
    int frames = 0;
    rig.script([&](std::uint16_t, const std::uint8_t*, std::size_t) {
      if (++frames == c.ack_after) rig.send_data(Bytes(transfer::kAckSize, 0));
    });
    Bytes data = numbered_block(c.n);
    transfer::Channel channel = rig.channel(std::chrono::seconds(1));
    ASSERT_EQ(transfer::block_send(channel, data.data(), c.n), transfer::Outcome::kTimeout);
    rig.clear();
    EXPECT_EQ(find_target(rig.link()), 0);
    std::vector<test::WireEvent> sent = rig.sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].frame, c.probe);
  }
}

TEST_F(DiscoveryTest, ReplyAfterOneUnrelatedFrameIsFoundAfterOnePause) {
  open();
  rig_.send(make_frame(kBroadcast, test::kOtherMac, 0x0800, pattern(46)));
  // Addressed to another station: replies are matched by EtherType alone.
  rig_.send(reply_from(test::kTargetMac, test::kOtherMac));
  EXPECT_EQ(find(), 1);
  EXPECT_EQ(took_, pauses(1));
  EXPECT_EQ(link_.target_mac(), test::kTargetMac);
  EXPECT_EQ(log_.text(), "") << "discovery logs nothing";
}

TEST_F(DiscoveryTest, ThreeUnrelatedFramesUseUpTheAttemptsAndKeepTheTargetMac) {
  open();
  link_.set_target_mac(kPreviousTarget);
  rig_.send(make_frame(kBroadcast, test::kOtherMac, 0x0806, pattern(46)));
  rig_.send(make_frame(test::kAdapterMac, test::kOtherMac, kEtherTargetData, pattern(46)));
  rig_.send(make_frame(test::kAdapterMac, test::kOtherMac, kEtherProbe, pattern(46)));
  rig_.send(reply_from(test::kTargetMac));

  EXPECT_EQ(find(), 0);
  EXPECT_EQ(took_, pauses(3));
  EXPECT_EQ(link_.target_mac(), kPreviousTarget);

  // The reply behind the three was left for the next call, which finds it at once.
  EXPECT_EQ(find(), 1);
  EXPECT_EQ(took_, milliseconds(0));
  EXPECT_EQ(link_.target_mac(), test::kTargetMac);
}

TEST_F(DiscoveryTest, SilenceGivesZeroAfterThreeReceivesAndThreePauses) {
  open();
  EXPECT_EQ(find(), 0);
  EXPECT_EQ(took_, silent_receives(3) + pauses(3));
  EXPECT_EQ(link_.target_mac(), (Mac{}));
}

TEST_F(DiscoveryTest, WithoutAnOpenAdapterNothingIsSentNothingTakenAndTheWaitsStillPass) {
  rig_.backend().fail_open(true);
  AdapterList list;
  link_.enumerate_adapters(&log_, list);
  ASSERT_EQ(link_.open_adapter(&log_, 1), 0);
  rig_.send(reply_from(test::kTargetMac));
  EXPECT_EQ(find(), 0);
  EXPECT_EQ(took_, silent_receives(3) + pauses(3)) << "a caller's loop does not spin";
  EXPECT_TRUE(rig_.sent().empty());
  EXPECT_TRUE(rig_.taken().empty());
}

TEST_F(DiscoveryTest, AnAdapterThatWentAwayFindsNothingAndIsNotedLost) {
  open();
  rig_.send(reply_from(test::kTargetMac));
  rig_.backend().set_present(false);
  EXPECT_EQ(find(), 0);
  EXPECT_TRUE(link_.adapter_lost());
  EXPECT_TRUE(rig_.sent().empty());
  EXPECT_TRUE(rig_.taken().empty());
}

TEST_F(DiscoveryTest, FindsTheSimulatedBoardAtTheFirstProbe) {
  open();
  sim::BoardOptions options;
  options.mac = test::kTargetMac;
  sim::SimBoard& board = rig_.plug(options);
  EXPECT_EQ(find(), 1);
  EXPECT_EQ(took_, milliseconds(0));
  EXPECT_EQ(link_.target_mac(), test::kTargetMac);
  EXPECT_EQ(board.probes_answered(), 1);
}

}  // namespace
}  // namespace skav::link

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/transfer/block_transfer.h"
#include "core/transfer/command.h"
#include "support/link_rig.h"

namespace skav::transfer {
namespace {

using test::Bytes;
using test::LinkRig;
using test::sequence;

// Runs block_receive_compare of `expected` while the board sends `frames`.
struct CompareRun {
  Outcome outcome;
  bool equal;
  std::vector<std::string> wire;
};

CompareRun compare(const Bytes& expected, std::vector<Bytes> frames) {
  LinkRig rig;
  test::BlockFeeder feeder(rig, std::move(frames));
  Channel channel = rig.channel();
  CompareRun run{};
  run.equal = false;
  run.outcome = block_receive_compare(channel, expected.data(),
                                      static_cast<std::uint32_t>(expected.size()), run.equal);
  run.wire = sequence(rig.events());
  return run;
}

TEST(BlockReceiveCompare, KeepsTheReceiveRhythmAndFindsAnUnchangedCopyEqual) {
  for (std::size_t n : {std::size_t{1}, std::size_t{1408}, std::size_t{22528}, std::size_t{22529},
                        std::size_t{45057}}) {
    Bytes data = test::pattern(n, 9);
    CompareRun run = compare(data, test::chunks_of(data));
    EXPECT_EQ(run.outcome, Outcome::kOk) << n;
    EXPECT_TRUE(run.equal) << n;
    // The same frames and acknowledgements as a Block Receive of n bytes.
    std::size_t frames = (n + kChunkSize - 1) / kChunkSize;
    std::vector<std::string> expected;
    for (std::size_t i = 1; i <= frames; ++i) {
      std::size_t length = i < frames ? kChunkSize : n - (frames - 1) * kChunkSize;
      expected.push_back("T" + std::to_string(length));
      if (i % kAckInterval == 0 || i == frames) expected.push_back("ACK");
    }
    EXPECT_EQ(run.wire, expected) << n;
  }
}

TEST(BlockReceiveCompare, OneDifferingByteAnywhereMakesTheCopyDiffer) {
  Bytes data = test::pattern(45057, 4);
  for (std::size_t at : {std::size_t{0}, std::size_t{22528}, std::size_t{45056}}) {
    Bytes copy = data;
    copy[at] ^= 0x01;
    CompareRun run = compare(data, test::chunks_of(copy));
    EXPECT_EQ(run.outcome, Outcome::kOk) << at;  // the whole block is still taken
    EXPECT_FALSE(run.equal) << at;
    EXPECT_EQ(std::count(run.wire.begin(), run.wire.end(), "ACK"), 3) << at;
  }
}

TEST(BlockReceiveCompare, AShortFrameDiffersEvenWhenItsBytesMatch) {
  Bytes data = test::pattern(3000, 2);
  std::vector<Bytes> frames = test::chunks_of(data);
  frames[0].resize(1000);  // the first 1000 bytes are right, the rest of the chunk never came
  CompareRun run = compare(data, frames);
  EXPECT_EQ(run.outcome, Outcome::kOk);
  EXPECT_FALSE(run.equal);
}

TEST(BlockReceiveCompare, APaddedLastFrameComparesOnlyTheBytesThatRemain) {
  Bytes data = test::pattern(1418, 6);
  std::vector<Bytes> frames = test::chunks_of(data);
  frames[1].resize(46, 0xEE);  // 10 bytes padded to the Ethernet minimum
  CompareRun run = compare(data, frames);
  EXPECT_EQ(run.outcome, Outcome::kOk);
  EXPECT_TRUE(run.equal);
  EXPECT_EQ(run.wire, (std::vector<std::string>{"T1408", "T46", "ACK"}));
}

TEST(BlockReceiveCompare, AnEmptyBlockIsEqualAndMovesNoFrame) {
  CompareRun run = compare({}, {});
  EXPECT_EQ(run.outcome, Outcome::kOk);
  EXPECT_TRUE(run.equal);
  EXPECT_TRUE(run.wire.empty());
}

TEST(BlockReceiveCompare, ASilentPeerTimesOut) {
  LinkRig rig;
  Bytes data = test::pattern(100);
  Channel channel = rig.channel(std::chrono::milliseconds(100));
  bool equal = true;
  EXPECT_EQ(block_receive_compare(channel, data.data(), 100, equal), Outcome::kTimeout);
}

TEST(LinkSendDataFrames, CutsTheBytesIntoFramesWithTheDataHeader) {
  LinkRig rig;
  Bytes data = test::pattern(3000, 3);
  ASSERT_EQ(rig.link().send_data_frames(data.data(), 3000, kChunkSize), 0);
  std::vector<test::WireEvent> events = rig.events();
  ASSERT_EQ(sequence(events), (std::vector<std::string>{"H1408", "H1408", "H184"}));
  Bytes joined;
  for (const test::WireEvent& e : events) {
    EXPECT_TRUE(std::equal(test::kBoardMac.begin(), test::kBoardMac.end(), e.frame.begin()));
    EXPECT_TRUE(std::equal(test::kHostMac.begin(), test::kHostMac.end(), e.frame.begin() + 6));
    joined.insert(joined.end(), e.payload(), e.payload() + e.payload_length());
  }
  EXPECT_EQ(joined, data);
}

TEST(LinkSendDataFrames, RefusesOversizedFramesAndMoreThanSixtyFourAtOnce) {
  LinkRig rig;
  Bytes data(65 * 100);
  EXPECT_EQ(rig.link().send_data_frames(data.data(), 100, 1501), -2);
  EXPECT_EQ(rig.link().send_data_frames(data.data(), 100, 0), -2);
  EXPECT_EQ(rig.link().send_data_frames(data.data(), 65 * 100, 100), -2);
  EXPECT_TRUE(rig.events().empty());
  EXPECT_EQ(rig.link().send_data_frames(data.data(), 64 * 100, 100), 0);
  EXPECT_EQ(rig.events().size(), 64u);
}

}  // namespace
}  // namespace skav::transfer

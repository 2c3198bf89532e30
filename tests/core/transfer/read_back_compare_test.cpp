#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/transfer/block_transfer.h"
#include "core/transfer/command.h"
#include "core/transfer/image_download.h"
#include "core/transfer/station_harness.h"

namespace skav::transfer {
namespace {

using test::ScriptedPeer;
using test::sequence;
using test::StationSide;

// Sends `frames` (payloads) window by window: the first window at once, the next one on each
// acknowledgement from the station.
class WindowFeeder {
 public:
  explicit WindowFeeder(std::vector<std::vector<std::uint8_t>> frames)
      : frames_(std::move(frames)) {}
  void send_window(ScriptedPeer& peer) {
    std::lock_guard lock(mutex_);
    do {
      peer.send_data(frames_[next_].data(), frames_[next_].size());
      ++next_;
    } while (next_ % kAckInterval != 0 && next_ < frames_.size());
  }
  bool done() {
    std::lock_guard lock(mutex_);
    return next_ == frames_.size();
  }

 private:
  std::mutex mutex_;
  std::vector<std::vector<std::uint8_t>> frames_;
  std::size_t next_ = 0;
};

std::vector<std::vector<std::uint8_t>> chunks_of(const std::vector<std::uint8_t>& data) {
  std::vector<std::vector<std::uint8_t>> frames;
  for (std::size_t pos = 0; pos < data.size(); pos += kChunkSize) {
    std::size_t end = std::min(data.size(), pos + kChunkSize);
    frames.emplace_back(data.begin() + static_cast<std::ptrdiff_t>(pos),
                        data.begin() + static_cast<std::ptrdiff_t>(end));
  }
  return frames;
}

// Runs block_receive_compare of `expected` while the peer sends `frames`.
struct CompareRun {
  Outcome outcome;
  bool equal;
  std::vector<std::string> wire;
};

CompareRun compare(const std::vector<std::uint8_t>& expected,
                   std::vector<std::vector<std::uint8_t>> frames) {
  StationSide station;
  WindowFeeder feeder(std::move(frames));
  ScriptedPeer peer(station.wire().board_end(),
                    [&](ScriptedPeer& self, std::uint16_t, const std::uint8_t*, std::size_t) {
                      if (!feeder.done()) feeder.send_window(self);
                    });
  if (!expected.empty()) feeder.send_window(peer);
  Channel channel = station.channel();
  CompareRun run{};
  run.equal = false;
  run.outcome = block_receive_compare(channel, expected.data(),
                                      static_cast<std::uint32_t>(expected.size()), run.equal);
  run.wire = sequence(station.recorder().events());
  return run;
}

TEST(BlockReceiveCompare, KeepsTheReceiveRhythmAndFindsAnUnchangedCopyEqual) {
  for (std::size_t n : {std::size_t{1}, std::size_t{1408}, std::size_t{22528}, std::size_t{22529},
                        std::size_t{45057}}) {
    std::vector<std::uint8_t> data = test::pattern(n, 9);
    CompareRun run = compare(data, chunks_of(data));
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
  std::vector<std::uint8_t> data = test::pattern(45057, 4);
  for (std::size_t at : {std::size_t{0}, std::size_t{22528}, std::size_t{45056}}) {
    std::vector<std::uint8_t> copy = data;
    copy[at] ^= 0x01;
    CompareRun run = compare(data, chunks_of(copy));
    EXPECT_EQ(run.outcome, Outcome::kOk) << at;  // the whole block is still taken
    EXPECT_FALSE(run.equal) << at;
    EXPECT_EQ(std::count(run.wire.begin(), run.wire.end(), "ACK"), 3) << at;
  }
}

TEST(BlockReceiveCompare, AShortFrameDiffersEvenWhenItsBytesMatch) {
  std::vector<std::uint8_t> data = test::pattern(3000, 2);
  auto frames = chunks_of(data);
  frames[0].resize(1000);  // the first 1000 bytes are right, the rest of the chunk never came
  CompareRun run = compare(data, frames);
  EXPECT_EQ(run.outcome, Outcome::kOk);
  EXPECT_FALSE(run.equal);
}

TEST(BlockReceiveCompare, APaddedLastFrameComparesOnlyTheBytesThatRemain) {
  std::vector<std::uint8_t> data = test::pattern(1418, 6);
  auto frames = chunks_of(data);
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
  StationSide station;
  std::vector<std::uint8_t> data = test::pattern(100);
  Channel channel = station.channel(std::chrono::milliseconds(100));
  bool equal = true;
  EXPECT_EQ(block_receive_compare(channel, data.data(), 100, equal), Outcome::kTimeout);
}

TEST(LinkSendDataFrames, CutsTheBytesIntoFramesWithTheDataHeader) {
  StationSide station;
  std::vector<std::uint8_t> data = test::pattern(3000, 3);
  ASSERT_EQ(station.link().send_data_frames(data.data(), 3000, kChunkSize), 0);
  std::vector<test::WireEvent> events = station.recorder().events();
  ASSERT_EQ(sequence(events), (std::vector<std::string>{"H1408", "H1408", "H184"}));
  std::vector<std::uint8_t> joined;
  for (const test::WireEvent& e : events) {
    EXPECT_TRUE(std::equal(test::kBoardMac.begin(), test::kBoardMac.end(), e.frame.begin()));
    EXPECT_TRUE(std::equal(test::kHostMac.begin(), test::kHostMac.end(), e.frame.begin() + 6));
    joined.insert(joined.end(), e.payload(), e.payload() + e.payload_length());
  }
  EXPECT_EQ(joined, data);
}

TEST(LinkSendDataFrames, RefusesOversizedFramesAndMoreThanSixtyFourAtOnce) {
  StationSide station;
  std::vector<std::uint8_t> data(65 * 100);
  EXPECT_EQ(station.link().send_data_frames(data.data(), 100, 1501), -2);
  EXPECT_EQ(station.link().send_data_frames(data.data(), 100, 0), -2);
  EXPECT_EQ(station.link().send_data_frames(data.data(), 65 * 100, 100), -2);
  EXPECT_TRUE(station.recorder().events().empty());
  EXPECT_EQ(station.link().send_data_frames(data.data(), 64 * 100, 100), 0);
  EXPECT_EQ(station.recorder().events().size(), 64u);
}

}  // namespace
}  // namespace skav::transfer

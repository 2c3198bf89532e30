#include "core/transfer/block_transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "support/link_rig.h"

namespace skav::transfer {
namespace {

using test::BlockFeeder;
using test::Bytes;
using test::LinkRig;
using test::sequence;

std::vector<std::string> times(int n, const std::string& item) {
  return std::vector<std::string>(static_cast<std::size_t>(n), item);
}

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

const Bytes kPeerAck = [] {
  Bytes ack(64, 0);
  ack[0] = 'a';
  ack[1] = 'c';
  ack[2] = 'k';
  return ack;
}();
const std::uint8_t kForeign[46] = {};

// The block's frames as the table gives them: the data frames and where acknowledgements fall.
struct BlockCase {
  std::uint32_t n;
  std::set<int> ack_after;               // frame numbers (from 1) followed by an acknowledgement
  std::vector<std::string> send_frames;  // what the station's side sees during Block Send
  std::vector<std::string> receive_frames;  // ... and during Block Receive
};

// Keeps test names short in listings: a case is known by its block length.
void PrintTo(const BlockCase& c, std::ostream* out) { *out << c.n << " bytes"; }

class BlockSequence : public ::testing::TestWithParam<BlockCase> {};

const BlockCase kCases[] = {
    {0, {}, {}, {}},
    {1408, {1}, {"H1408", "T64"}, {"T1408", "ACK"}},
    {1409, {2}, {"H1408", "H1", "T64"}, {"T1408", "T1", "ACK"}},
    {22528, {16}, join({times(16, "H1408"), {"T64"}}), join({times(16, "T1408"), {"ACK"}})},
    {22529, {16, 17},
     join({times(16, "H1408"), {"T64", "H1", "T64"}}),
     join({times(16, "T1408"), {"ACK", "T1", "ACK"}})},
    {45057, {16, 32, 33},
     join({times(16, "H1408"), {"T64"}, times(16, "H1408"), {"T64", "H1", "T64"}}),
     join({times(16, "T1408"), {"ACK"}, times(16, "T1408"), {"ACK", "T1", "ACK"}})},
};

TEST_P(BlockSequence, SendCutsFramesAndAwaitsEachAcknowledgementBeforeGoingOn) {
  const BlockCase& c = GetParam();
  LinkRig rig;
  Bytes received;
  int frames = 0;
  rig.script([&](std::uint16_t type, const std::uint8_t* p, std::size_t n) {
    if (type != link::kEtherHostData) return;
    received.insert(received.end(), p, p + n);
    if (c.ack_after.count(++frames) != 0) rig.send_data(kPeerAck);
  });
  Bytes data = test::pattern(c.n);
  Channel channel = rig.channel();
  ASSERT_EQ(block_send(channel, data.data(), c.n), Outcome::kOk);
  EXPECT_EQ(sequence(rig.events()), c.send_frames);
  EXPECT_EQ(received, data);
}

TEST_P(BlockSequence, ReceiveCountsFramesAndAcknowledgesAfterEverySixteenthAndTheLast) {
  const BlockCase& c = GetParam();
  LinkRig rig;
  Bytes data = test::pattern(c.n, 7);
  BlockFeeder feeder(rig, test::chunks_of(data));
  Bytes buffer(c.n + 1, 0x11);
  Channel channel = rig.channel();
  ASSERT_EQ(block_receive(channel, buffer.data(), c.n), Outcome::kOk);
  EXPECT_EQ(sequence(rig.events()), c.receive_frames);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin()));
  EXPECT_EQ(buffer[c.n], 0x11) << "a byte beyond the block was written";
}

INSTANTIATE_TEST_SUITE_P(FrameTable, BlockSequence, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<BlockCase>& param) {
                           return "n" + std::to_string(param.param.n);
                         });

TEST(BlockReceive, APaddedLastChunkStoresOnlyTheBytesThatRemain) {
  LinkRig rig;
  Bytes data = test::pattern(1418, 3);
  std::vector<Bytes> frames = test::chunks_of(data);
  frames.back().resize(46, 0xEE);  // the 10-byte last chunk arrives padded to 46 bytes
  BlockFeeder feeder(rig, frames);
  Bytes buffer(1500, 0x11);
  Channel channel = rig.channel();
  ASSERT_EQ(block_receive(channel, buffer.data(), 1418), Outcome::kOk);
  EXPECT_EQ(sequence(rig.events()), (std::vector<std::string>{"T1408", "T46", "ACK"}));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin()));
  EXPECT_TRUE(std::all_of(buffer.begin() + 1418, buffer.end(), [](auto b) { return b == 0x11; }));
}

TEST(BlockReceive, ForeignFramesAndEmptyPayloadsDoNotCountAsFrames) {
  LinkRig rig;
  Bytes data = test::pattern(22529, 5);
  BlockFeeder feeder(rig, test::chunks_of(data), [&rig] {
    rig.send(0x0800, kForeign, sizeof kForeign);
    rig.send(link::kEtherReply, kForeign, sizeof kForeign);
    rig.send_data({});
  });
  Bytes buffer(22529);
  Channel channel = rig.channel();
  ASSERT_EQ(block_receive(channel, buffer.data(), 22529), Outcome::kOk);
  EXPECT_EQ(buffer, data);
  std::vector<std::string> seq = sequence(rig.events());
  EXPECT_EQ(std::count(seq.begin(), seq.end(), "T1408"), 16);
  EXPECT_EQ(std::count(seq.begin(), seq.end(), "x"), 2 * 17);
  EXPECT_EQ(std::count(seq.begin(), seq.end(), "T0"), 17);
  seq.erase(std::remove_if(seq.begin(), seq.end(),
                           [](const std::string& s) { return s == "x" || s == "T0"; }),
            seq.end());
  EXPECT_EQ(seq, join({times(16, "T1408"), {"ACK", "T1", "ACK"}}));
}

TEST(BlockReceive, TheAcknowledgementFrameIsSixtyFourBytesTaggedZZQ7) {
  LinkRig rig;
  rig.send_data({0x42});
  std::uint8_t buffer[1] = {};
  Channel channel = rig.channel();
  ASSERT_EQ(block_receive(channel, buffer, 1), Outcome::kOk);
  std::vector<test::WireEvent> events = rig.events();
  ASSERT_EQ(events.size(), 2u);
  const Bytes& ack = events[1].frame;
  Bytes expected = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01,   // the target
                    0x02, 0x53, 0x4b, 0x41, 0x56, 0x00,   // the host
                    0x80, 0x77, 0x5A, 0x5A, 0x51, 0x37};  // "ZZQ7"
  expected.resize(14 + 64, 0);
  EXPECT_EQ(ack, expected);
  EXPECT_EQ(buffer[0], 0x42);
}

TEST(BlockSend, AcknowledgementsOfAnyLengthAreAcceptedButEmptyOnesAreNot) {
  LinkRig rig;
  int frames = 0;
  rig.script([&](std::uint16_t type, const std::uint8_t*, std::size_t) {
    if (type != link::kEtherHostData) return;
    ++frames;
    rig.send(0x0806, kForeign, sizeof kForeign);
    rig.send_data({});  // neither frame is an acknowledgement
    if (frames == 16) rig.send_data(Bytes(kPeerAck.begin(), kPeerAck.begin() + 46));
    if (frames == 17) rig.send_data(Bytes(200, 0));
  });
  Bytes data = test::pattern(22529);
  Channel channel = rig.channel();
  ASSERT_EQ(block_send(channel, data.data(), 22529), Outcome::kOk);
  std::vector<std::string> seq = sequence(rig.events());
  // Frames 1 to 16 go out back to back; the station's reads after frame 16 find the foreign and
  // empty frames that followed earlier frames, all skipped, and go on only after the ack.
  std::vector<std::string> expected = times(16, "H1408");
  for (int i = 0; i < 16; ++i) expected.insert(expected.end(), {"x", "T0"});
  expected.insert(expected.end(), {"T46", "H1", "x", "T0", "T200"});
  EXPECT_EQ(seq, expected);
}

// The board takes `round_trip` to acknowledge each window; the station learns it from the
// window before.
struct WakeCase {
  std::chrono::microseconds round_trip;
  bool anticipated;
};

TEST(BlockSend, ASlowAcknowledgementIsAnticipatedByOneWakeUpPerWindowBeforeItIsDue) {
  constexpr std::uint32_t kWindows = 6;
  const WakeCase cases[] = {
      {std::chrono::microseconds(2000), true},
      {std::chrono::microseconds(100), false},   // a fast wire: the receive itself is soon enough
      {std::chrono::microseconds(25000), false},  // longer than a receive waits anyway
  };
  for (const WakeCase& c : cases) {
    SCOPED_TRACE(c.round_trip.count());
    LinkRig rig;
    int frames = 0;
    std::vector<Clock::time_point> window_start;
    rig.script([&](std::uint16_t type, const std::uint8_t*, std::size_t) {
      if (type != link::kEtherHostData) return;
      if (frames++ % kAckInterval == 0) window_start.push_back(rig.clock().now());
      if (frames % kAckInterval != 0) return;
      rig.send_data_after(kPeerAck, c.round_trip);
    });
    Bytes data = test::pattern(kWindows * kChunkSize * kAckInterval);
    Channel channel = rig.channel();
    ASSERT_EQ(block_send(channel, data.data(), static_cast<std::uint32_t>(data.size())),
              Outcome::kOk);
    std::vector<test::LinkRig::Wait> waits = rig.waits();
    if (!c.anticipated) {
      EXPECT_TRUE(waits.empty());
      continue;
    }
    // The first window's round trip is not known yet; every later one gets its wake-up, after
    // the window went out and before its acknowledgement is due.
    ASSERT_EQ(waits.size(), kWindows - 1);
    for (std::size_t i = 0; i < waits.size(); ++i) {
      EXPECT_GT(waits[i].until, window_start[i + 1]) << i;
      EXPECT_LT(waits[i].until, window_start[i + 1] + c.round_trip) << i;
    }
  }
}

TEST(BlockTransfer, APeerThatFallsSilentMidBlockEndsTheTransferWithATimeout) {
  LinkRig rig;
  Bytes data = test::pattern(45057);
  Channel channel = rig.channel(std::chrono::milliseconds(200));
  Clock::time_point start = rig.clock().now();
  EXPECT_EQ(block_send(channel, data.data(), 45057), Outcome::kTimeout);
  EXPECT_EQ(sequence(rig.events()), times(16, "H1408"))
      << "nothing may go out after an ack that never came";
  EXPECT_GE(rig.clock().now() - start, channel.timeout) << "the silence lasted the timeout";

  // Receive: ten frames of the first window arrive, then nothing.
  rig.clear();
  for (int i = 0; i < 10; ++i) rig.send_data(Bytes(data.begin(), data.begin() + kChunkSize));
  Bytes buffer(45057);
  EXPECT_EQ(block_receive(channel, buffer.data(), 45057), Outcome::kTimeout);
  EXPECT_EQ(sequence(rig.events()), times(10, "T1408"));
}

TEST(BlockTransfer, AnAdapterThatGoesAwayEndsTheTransferAtOnceNotAfterTheTimeout) {
  // Send: the adapter goes while the first window travels, before its acknowledgement.
  {
    LinkRig rig;
    int frames = 0;
    rig.script([&](std::uint16_t, const std::uint8_t*, std::size_t) {
      if (++frames == 16) rig.backend().set_present(false);
    });
    Bytes data = test::pattern(45057);
    Channel channel = rig.channel();
    Clock::time_point start = rig.clock().now();
    EXPECT_EQ(block_send(channel, data.data(), 45057), Outcome::kAdapterLost);
    EXPECT_LE(rig.clock().now() - start, link::kReadTimeout) << "gone, not silent";
    EXPECT_TRUE(rig.link().adapter_lost());
    EXPECT_EQ(sequence(rig.events()), times(16, "H1408"));
  }
  // Receive: the adapter goes as the first window is acknowledged, with more frames waiting.
  {
    LinkRig rig;
    Bytes data = test::pattern(45057);
    for (const Bytes& chunk : test::chunks_of(data)) rig.send_data(chunk);
    rig.script([&](std::uint16_t, const std::uint8_t*, std::size_t) {
      rig.backend().set_present(false);
    });
    Bytes buffer(45057);
    Channel channel = rig.channel();
    Clock::time_point start = rig.clock().now();
    EXPECT_EQ(block_receive(channel, buffer.data(), 45057), Outcome::kAdapterLost);
    EXPECT_LE(rig.clock().now() - start, link::kReadTimeout) << "gone, not silent";
    EXPECT_EQ(sequence(rig.events()), join({times(16, "T1408"), {"ACK"}}));
  }
}

TEST(BlockTransfer, AStopRequestEndsAWaitWithStopped) {
  LinkRig rig;
  std::atomic<bool> stop{true};
  Channel channel = rig.channel();
  channel.stop = &stop;
  std::uint8_t byte = 1;
  EXPECT_EQ(block_send(channel, &byte, 1), Outcome::kStopped);
  EXPECT_EQ(block_receive(channel, &byte, 1), Outcome::kStopped);
}

class RecordingProgress : public ProgressObserver {
 public:
  void on_progress(std::uint64_t done, std::uint64_t total) override {
    calls.emplace_back(done, total);
  }
  std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
};

TEST(BlockTransfer, ProgressIsReportedAtTheStartAndOncePerAcknowledgementWindow) {
  LinkRig rig;
  int frames = 0;
  rig.script([&](std::uint16_t, const std::uint8_t*, std::size_t) {
    ++frames;
    if (frames == 16 || frames == 32 || frames == 33) rig.send_data(kPeerAck);
  });
  RecordingProgress progress;
  Channel channel = rig.channel();
  channel.progress = &progress;
  Bytes data = test::pattern(45057);
  ASSERT_EQ(block_send(channel, data.data(), 45057), Outcome::kOk);
  using Call = std::pair<std::uint64_t, std::uint64_t>;
  EXPECT_EQ(progress.calls,
            (std::vector<Call>{{0, 45057}, {22528, 45057}, {45056, 45057}, {45057, 45057}}));

  // Receiving reports the same way; an empty block reports nothing.
  progress.calls.clear();
  BlockFeeder feeder(rig, test::chunks_of(data));
  ASSERT_EQ(block_receive(channel, data.data(), 45057), Outcome::kOk);
  EXPECT_EQ(progress.calls,
            (std::vector<Call>{{0, 45057}, {22528, 45057}, {45056, 45057}, {45057, 45057}}));
  progress.calls.clear();
  ASSERT_EQ(block_send(channel, data.data(), 0), Outcome::kOk);
  EXPECT_TRUE(progress.calls.empty());
}

}  // namespace
}  // namespace skav::transfer

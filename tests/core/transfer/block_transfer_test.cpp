#include "core/transfer/block_transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "core/transfer/station_harness.h"

namespace skav::transfer {
namespace {

using test::ScriptedPeer;
using test::sequence;
using test::StationSide;

std::vector<std::string> times(int n, const std::string& item) {
  return std::vector<std::string>(static_cast<std::size_t>(n), item);
}

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

const std::uint8_t kPeerAck[64] = {'a', 'c', 'k'};
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
  StationSide station;
  std::mutex mutex;
  std::vector<std::uint8_t> received;
  int frames = 0;
  ScriptedPeer peer(station.wire().board_end(),
                    [&](ScriptedPeer& self, std::uint16_t type, const std::uint8_t* p,
                        std::size_t n) {
                      if (type != link::kEtherHostData) return;
                      std::lock_guard lock(mutex);
                      received.insert(received.end(), p, p + n);
                      if (c.ack_after.count(++frames) != 0) self.send_data(kPeerAck, 64);
                    });
  std::vector<std::uint8_t> data = test::pattern(c.n);
  Channel channel = station.channel();
  ASSERT_EQ(block_send(channel, data.data(), c.n), Outcome::kOk);
  EXPECT_EQ(sequence(station.recorder().events()), c.send_frames);
  std::lock_guard lock(mutex);
  EXPECT_EQ(received, data);
}

// Sends the block's frames window by window: the first at once, the next on each station
// acknowledgement.
class WindowedSender {
 public:
  WindowedSender(std::vector<std::uint8_t> data, std::uint32_t last_length = 0)
      : data_(std::move(data)), last_length_(last_length) {}
  void send_window(ScriptedPeer& peer) {
    std::lock_guard lock(mutex_);
    do {
      std::size_t chunk = std::min<std::size_t>(kChunkSize, data_.size() - pos_);
      std::size_t on_wire = chunk;
      bool last = pos_ + chunk == data_.size();
      if (last && last_length_ != 0) on_wire = last_length_;  // a padded last frame
      std::vector<std::uint8_t> payload(on_wire, 0xEE);
      std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(pos_), chunk, payload.begin());
      if (before_each_) before_each_(peer);
      peer.send_data(payload.data(), payload.size());
      pos_ += chunk;
      ++frames_;
    } while (frames_ % kAckInterval != 0 && pos_ < data_.size());
  }
  bool done() {
    std::lock_guard lock(mutex_);
    return pos_ == data_.size();
  }
  std::function<void(ScriptedPeer&)> before_each_;

 private:
  std::mutex mutex_;
  std::vector<std::uint8_t> data_;
  std::uint32_t last_length_;
  std::size_t pos_ = 0;
  int frames_ = 0;
};

TEST_P(BlockSequence, ReceiveCountsFramesAndAcknowledgesAfterEverySixteenthAndTheLast) {
  const BlockCase& c = GetParam();
  StationSide station;
  std::vector<std::uint8_t> data = test::pattern(c.n, 7);
  WindowedSender sender(data);
  ScriptedPeer peer(station.wire().board_end(),
                    [&](ScriptedPeer& self, std::uint16_t, const std::uint8_t*, std::size_t) {
                      if (!sender.done()) sender.send_window(self);
                    });
  if (c.n > 0) sender.send_window(peer);
  std::vector<std::uint8_t> buffer(c.n + 1, 0x11);
  Channel channel = station.channel();
  ASSERT_EQ(block_receive(channel, buffer.data(), c.n), Outcome::kOk);
  EXPECT_EQ(sequence(station.recorder().events()), c.receive_frames);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin()));
  EXPECT_EQ(buffer[c.n], 0x11) << "a byte beyond the block was written";
}

INSTANTIATE_TEST_SUITE_P(FrameTable, BlockSequence, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<BlockCase>& param) {
                           return "n" + std::to_string(param.param.n);
                         });

TEST(BlockReceive, APaddedLastChunkStoresOnlyTheBytesThatRemain) {
  StationSide station;
  std::vector<std::uint8_t> data = test::pattern(1418, 3);
  WindowedSender sender(data, 46);  // the 10-byte last chunk arrives padded to 46 bytes
  ScriptedPeer peer(station.wire().board_end(),
                    [](ScriptedPeer&, std::uint16_t, const std::uint8_t*, std::size_t) {});
  sender.send_window(peer);
  std::vector<std::uint8_t> buffer(1500, 0x11);
  Channel channel = station.channel();
  ASSERT_EQ(block_receive(channel, buffer.data(), 1418), Outcome::kOk);
  EXPECT_EQ(sequence(station.recorder().events()),
            (std::vector<std::string>{"T1408", "T46", "ACK"}));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin()));
  EXPECT_TRUE(std::all_of(buffer.begin() + 1418, buffer.end(), [](auto b) { return b == 0x11; }));
}

TEST(BlockReceive, ForeignFramesAndEmptyPayloadsDoNotCountAsFrames) {
  StationSide station;
  std::vector<std::uint8_t> data = test::pattern(22529, 5);
  WindowedSender sender(data);
  sender.before_each_ = [](ScriptedPeer& peer) {
    peer.send(0x0800, kForeign, sizeof kForeign);
    peer.send(link::kEtherReply, kForeign, sizeof kForeign);
    peer.send_data(nullptr, 0);
  };
  ScriptedPeer peer(station.wire().board_end(),
                    [&](ScriptedPeer& self, std::uint16_t, const std::uint8_t*, std::size_t) {
                      if (!sender.done()) sender.send_window(self);
                    });
  sender.send_window(peer);
  std::vector<std::uint8_t> buffer(22529);
  Channel channel = station.channel();
  ASSERT_EQ(block_receive(channel, buffer.data(), 22529), Outcome::kOk);
  EXPECT_EQ(buffer, data);
  std::vector<std::string> seq = sequence(station.recorder().events());
  EXPECT_EQ(std::count(seq.begin(), seq.end(), "T1408"), 16);
  EXPECT_EQ(std::count(seq.begin(), seq.end(), "x"), 2 * 17);
  EXPECT_EQ(std::count(seq.begin(), seq.end(), "T0"), 17);
  seq.erase(std::remove_if(seq.begin(), seq.end(),
                           [](const std::string& s) { return s == "x" || s == "T0"; }),
            seq.end());
  EXPECT_EQ(seq, join({times(16, "T1408"), {"ACK", "T1", "ACK"}}));
}

TEST(BlockReceive, TheAcknowledgementFrameIsSixtyFourBytesTaggedZZQ7) {
  StationSide station;
  ScriptedPeer peer(station.wire().board_end(),
                    [](ScriptedPeer&, std::uint16_t, const std::uint8_t*, std::size_t) {});
  std::uint8_t one = 0x42;
  peer.send_data(&one, 1);
  std::uint8_t buffer[1] = {};
  Channel channel = station.channel();
  ASSERT_EQ(block_receive(channel, buffer, 1), Outcome::kOk);
  std::vector<test::WireEvent> events = station.recorder().events();
  ASSERT_EQ(events.size(), 2u);
  const std::vector<std::uint8_t>& ack = events[1].frame;
  std::vector<std::uint8_t> expected = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01,   // the target
                                        0x02, 0x53, 0x4b, 0x41, 0x56, 0x00,   // the host
                                        0x80, 0x77, 0x5A, 0x5A, 0x51, 0x37};  // "ZZQ7"
  expected.resize(14 + 64, 0);
  EXPECT_EQ(ack, expected);
  EXPECT_EQ(buffer[0], 0x42);
}

TEST(BlockSend, AcknowledgementsOfAnyLengthAreAcceptedButEmptyOnesAreNot) {
  StationSide station;
  int frames = 0;
  std::uint8_t big[200] = {};
  ScriptedPeer peer(station.wire().board_end(),
                    [&](ScriptedPeer& self, std::uint16_t type, const std::uint8_t*, std::size_t) {
                      if (type != link::kEtherHostData) return;
                      ++frames;
                      self.send(0x0806, kForeign, sizeof kForeign);
                      self.send_data(nullptr, 0);  // neither frame is an acknowledgement
                      if (frames == 16) self.send_data(kPeerAck, 46);
                      if (frames == 17) self.send_data(big, sizeof big);
                    });
  std::vector<std::uint8_t> data = test::pattern(22529);
  Channel channel = station.channel();
  ASSERT_EQ(block_send(channel, data.data(), 22529), Outcome::kOk);
  std::vector<std::string> seq = sequence(station.recorder().events());
  // Frames 1 to 16 go out back to back; the station's reads after frame 16 find the foreign and
  // empty frames that followed earlier frames, all skipped, and go on only after the ack.
  std::vector<std::string> expected = times(16, "H1408");
  for (int i = 0; i < 16; ++i) expected.insert(expected.end(), {"x", "T0"});
  expected.insert(expected.end(), {"T46", "H1", "x", "T0", "T200"});
  EXPECT_EQ(seq, expected);
}

TEST(BlockSend, ASlowAcknowledgementIsAnticipatedByOneBoundedWakeUpPerWindow) {
  StationSide station;
  int frames = 0;
  ScriptedPeer peer(station.wire().board_end(),
                    [&](ScriptedPeer& self, std::uint16_t type, const std::uint8_t*, std::size_t) {
                      if (type != link::kEtherHostData || ++frames % 16 != 0) return;
                      std::this_thread::sleep_for(std::chrono::milliseconds(2));
                      self.send_data(kPeerAck, 64);
                    });
  constexpr std::uint32_t kWindows = 6;
  std::vector<std::uint8_t> data = test::pattern(kWindows * kChunkSize * kAckInterval);
  Channel channel = station.channel();
  ASSERT_EQ(block_send(channel, data.data(), static_cast<std::uint32_t>(data.size())),
            Outcome::kOk);
  // The first window's round trip is not known yet; every later one is, and gets its wake-up
  // unless the machine stalled that round trip past the read time-out.
  auto waits = station.recorder().waits();
  ASSERT_GE(waits.size(), 1u);
  ASSERT_LE(waits.size(), kWindows - 1);
  for (const auto& wait : waits)
    EXPECT_LE(wait.until - wait.asked, link::kReadTimeout) << "never further than a receive";
}

TEST(BlockTransfer, APeerThatFallsSilentMidBlockEndsTheTransferWithATimeout) {
  StationSide station;
  ScriptedPeer peer(station.wire().board_end(),
                    [](ScriptedPeer&, std::uint16_t, const std::uint8_t*, std::size_t) {});
  std::vector<std::uint8_t> data = test::pattern(45057);
  Channel channel = station.channel(std::chrono::milliseconds(200));
  EXPECT_EQ(block_send(channel, data.data(), 45057), Outcome::kTimeout);
  std::vector<std::string> seq = sequence(station.recorder().events());
  EXPECT_EQ(seq, times(16, "H1408")) << "nothing may go out after an ack that never came";

  // Receive: ten frames of the first window arrive, then nothing.
  station.recorder().clear();
  for (int i = 0; i < 10; ++i) peer.send_data(data.data(), kChunkSize);
  std::vector<std::uint8_t> buffer(45057);
  EXPECT_EQ(block_receive(channel, buffer.data(), 45057), Outcome::kTimeout);
  EXPECT_EQ(sequence(station.recorder().events()), times(10, "T1408"));
}

TEST(BlockTransfer, AStopRequestEndsAWaitWithStopped) {
  StationSide station;
  std::atomic<bool> stop{true};
  Channel channel = station.channel();
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

TEST(BlockTransfer, ProgressIsReportedOncePerAcknowledgementWindow) {
  StationSide station;
  int frames = 0;
  ScriptedPeer peer(station.wire().board_end(),
                    [&](ScriptedPeer& self, std::uint16_t, const std::uint8_t*, std::size_t) {
                      ++frames;
                      if (frames == 16 || frames == 32 || frames == 33)
                        self.send_data(kPeerAck, 64);
                    });
  RecordingProgress progress;
  Channel channel = station.channel();
  channel.progress = &progress;
  std::vector<std::uint8_t> data = test::pattern(45057);
  ASSERT_EQ(block_send(channel, data.data(), 45057), Outcome::kOk);
  using Call = std::pair<std::uint64_t, std::uint64_t>;
  EXPECT_EQ(progress.calls, (std::vector<Call>{{22528, 45057}, {45056, 45057}, {45057, 45057}}));
}

}  // namespace
}  // namespace skav::transfer

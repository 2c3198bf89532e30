#include "core/transfer/block_transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
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

// A board at the end of a modelled wire, on the rig's clock. Writing, each window's
// acknowledgement arrives `first` after the window left; reading, frame j (from 0) of each
// window arrives `first + j * apart` after the acknowledgement that asked for it.
constexpr std::uint32_t kPacedWindows = 8;

struct PaceCase {
  const char* name;
  bool write;
  std::chrono::nanoseconds first;
  std::chrono::nanoseconds apart;
  int unpaced_wake_ups;  // per window before the station has timed one, or when it does not
  bool paced;            // the station sleeps until later windows are complete
  // Frames a paced wait asks for: the acknowledgement, the whole window, or (a window that came
  // in one burst) its first frame.
  std::size_t wait_count;
  // The windows the station has not yet timed: writing, the first; reading, the first two (the
  // first was not asked for by an acknowledgement, so it times nothing).
  std::size_t unpaced() const { return !paced ? kPacedWindows : write ? 1 : 2; }
};

void PrintTo(const PaceCase& c, std::ostream* out) { *out << c.name; }

constexpr std::chrono::nanoseconds kFrameTime{11568};  // a 1408-byte frame at 1 Gbit/s
const PaceCase kPaceCases[] = {
    {"WireWrite", true, std::chrono::microseconds(286), {}, 1, true, 1},
    {"VethWrite", true, std::chrono::microseconds(30), {}, 1, true, 1},
    {"WireRead", false, std::chrono::microseconds(112), kFrameTime, 16, true, 16},
    {"VethRead", false, std::chrono::microseconds(40), {}, 1, true, 1},
    // A round trip longer than a receive waits anyway is not worth a timer.
    {"SlowWrite", true, std::chrono::milliseconds(25), {}, 2, false, 0},
};

// One block of kPacedWindows full windows through the station, written or read back as the
// case says, with the board going silent after `answered` windows (all when 0).
struct PacedRun {
  Outcome outcome = Outcome::kOk;
  std::vector<int> wake_ups;  // per window, while the station waited for it
  // Per window: when its last frame (or its acknowledgement) arrived, and when the station
  // answered it (its acknowledgement, or the next window's first frame).
  std::vector<Clock::time_point> arrived;
  std::vector<Clock::time_point> answered;
  Clock::time_point end;
};

PacedRun run_paced(LinkRig& rig, const PaceCase& c, std::uint32_t answered = 0,
                   std::chrono::milliseconds timeout = kDefaultTimeout) {
  PacedRun run;
  const Bytes data = test::pattern(kPacedWindows * kAckInterval * kChunkSize);
  const auto n = static_cast<std::uint32_t>(data.size());
  Channel channel = rig.channel(timeout);
  int mark = 0;
  auto window_answered = [&] {
    run.answered.push_back(rig.clock().now());
    run.wake_ups.push_back(rig.wake_ups() - mark);
    mark = rig.wake_ups();
  };
  std::uint32_t frames = 0;  // sent by the station (writing) or by the board (reading)
  if (c.write) {
    rig.script([&](std::uint16_t, const std::uint8_t*, std::size_t) {
      if (frames % kAckInterval == 0 && frames > 0) window_answered();
      if (++frames % kAckInterval != 0) return;
      if (answered != 0 && frames / kAckInterval > answered) return;
      run.arrived.push_back(rig.clock().now() + c.first);
      rig.send_data_after(kPeerAck, c.first);
    });
    run.outcome = block_send(channel, data.data(), n);
  } else {
    std::vector<Bytes> chunks = test::chunks_of(data);
    if (answered != 0) chunks.resize(answered * kAckInterval);
    auto delay = [&](std::size_t frame) -> Clock::duration {
      std::size_t j = frame % kAckInterval;
      Clock::duration at = c.first + c.apart * static_cast<long>(j);
      if (j + 1 == kAckInterval) run.arrived.push_back(rig.clock().now() + at);
      return at;
    };
    // A window after the first is sent when the station acknowledged the one before.
    auto before_each = [&] {
      if (frames % kAckInterval == 0 && frames > 0) window_answered();
      ++frames;
    };
    BlockFeeder feeder(rig, std::move(chunks), before_each, delay);
    Bytes buffer(n);
    run.outcome = block_receive(channel, buffer.data(), n);
    if (run.outcome == Outcome::kOk) {
      EXPECT_EQ(buffer, data);
    }
  }
  if (run.outcome == Outcome::kOk) window_answered();
  run.end = rig.clock().now();
  return run;
}

class Pacing : public ::testing::TestWithParam<PaceCase> {};

TEST_P(Pacing, OnceAWindowIsTimedEachLaterOneCostsOneWakeUp) {
  const PaceCase& c = GetParam();
  LinkRig rig;
  PacedRun run = run_paced(rig, c);
  ASSERT_EQ(run.outcome, Outcome::kOk);
  ASSERT_EQ(run.wake_ups.size(), kPacedWindows);
  for (std::size_t w = 0; w < kPacedWindows; ++w)
    EXPECT_EQ(run.wake_ups[w], w < c.unpaced() ? c.unpaced_wake_ups : 1) << "window " << w;
  // Each window is answered as soon as it is complete; the station waits on its timer for the
  // whole window (or its acknowledgement), never longer than the window takes.
  for (std::size_t w = 0; w < kPacedWindows; ++w) EXPECT_EQ(run.answered[w], run.arrived[w]) << w;
  std::vector<LinkRig::Wait> waits = rig.waits();
  if (!c.paced) {
    EXPECT_TRUE(waits.empty());
    return;
  }
  ASSERT_EQ(waits.size(), kPacedWindows - c.unpaced());
  for (std::size_t w = 0; w < waits.size(); ++w) {
    EXPECT_EQ(waits[w].count, c.wait_count);
    EXPECT_EQ(waits[w].until, run.arrived[w + c.unpaced()]) << w;
  }
}

// The cases whose windows the station waits for on a timer.
class LatePacing : public Pacing {};

// The wake-ups of the modelled machine come 30 us late: the link learns it and asks for them
// that much earlier, so that the station still answers each window as it completes.
TEST_P(LatePacing, WakeUpsThatComeLateAreAskedForEarlier) {
  const PaceCase& c = GetParam();
  constexpr std::chrono::microseconds kLate{30};
  LinkRig rig;
  rig.set_wake_lateness(kLate);
  PacedRun run = run_paced(rig, c);
  ASSERT_EQ(run.outcome, Outcome::kOk);
  // The first paced window wakes late and teaches the link; every later one is on time.
  const std::size_t first = c.unpaced();
  EXPECT_EQ(run.answered[first], run.arrived[first] + kLate);
  for (std::size_t w = first + 1; w < kPacedWindows; ++w) {
    EXPECT_EQ(run.answered[w], run.arrived[w]) << w;
    EXPECT_EQ(run.wake_ups[w], 1) << w;
  }
  EXPECT_EQ(rig.link().wake_lead(), kLate);
}

TEST_P(Pacing, ABoardThatFallsSilentStillTimesOutAfterTheTimeout) {
  const PaceCase& c = GetParam();
  constexpr std::chrono::milliseconds kTimeout{200};
  LinkRig rig;
  PacedRun run = run_paced(rig, c, 3, kTimeout);
  EXPECT_EQ(run.outcome, Outcome::kTimeout);
  ASSERT_EQ(run.arrived.size(), 3u);
  // The station answered the third window as it arrived, starting the window that never came:
  // the silence counts from there and ends at the first poll after the timeout.
  Clock::duration silence = run.end - run.arrived.back();
  EXPECT_GE(silence, kTimeout);
  EXPECT_LE(silence, kTimeout + link::kReadTimeout);
  for (const LinkRig::Wait& wait : rig.waits()) EXPECT_LE(wait.until - wait.asked, kTimeout);
}

std::string pace_case_name(const ::testing::TestParamInfo<PaceCase>& param) {
  return param.param.name;
}

std::vector<PaceCase> paced_cases() {
  std::vector<PaceCase> cases;
  for (const PaceCase& c : kPaceCases)
    if (c.paced) cases.push_back(c);
  return cases;
}

INSTANTIATE_TEST_SUITE_P(ModelledBoards, Pacing, ::testing::ValuesIn(kPaceCases), pace_case_name);
INSTANTIATE_TEST_SUITE_P(ModelledBoards, LatePacing, ::testing::ValuesIn(paced_cases()),
                         pace_case_name);

// Reading over a link whose wake-ups come 30 us late: a window whose frames all come within that
// lateness is waited for on its first frame (the rest is there when the thread runs), one spread
// wider on a timer; either way each window costs one wake-up once the link knows its lateness.
TEST(Pacing, AWindowThatComesFasterThanAWakeUpIsWaitedForOnItsFirstFrame) {
  constexpr std::chrono::microseconds kLate{30};
  struct Case {
    std::chrono::nanoseconds apart;  // spreads of 15 and 45 us over a window
    std::size_t wait_count;
  };
  for (const Case& c : {Case{std::chrono::microseconds(1), 1}, Case{std::chrono::microseconds(3), 16}}) {
    SCOPED_TRACE(c.apart.count());
    LinkRig rig;
    rig.set_wake_lateness(kLate);
    const PaceCase read{"", false, std::chrono::microseconds(40), c.apart, 16, true, c.wait_count};
    PacedRun run = run_paced(rig, read);
    ASSERT_EQ(run.outcome, Outcome::kOk);
    std::vector<LinkRig::Wait> waits = rig.waits();
    ASSERT_EQ(waits.size(), kPacedWindows - read.unpaced());
    // The first timed window teaches the link its lateness; the windows after it are waited
    // for as their spread says.
    for (std::size_t w = 1; w < waits.size(); ++w) EXPECT_EQ(waits[w].count, c.wait_count) << w;
    for (std::size_t w = read.unpaced() + 1; w < kPacedWindows; ++w)
      EXPECT_EQ(run.wake_ups[w], 1) << "window " << w;
  }
}

// Window 4 comes 100 us later than the three before it: the station wakes when it should have
// been complete, takes what came, waits for the rest frame by frame, and times the next window by
// this one.
TEST(Pacing, AWindowLaterThanForetoldIsStillTakenWhole) {
  LinkRig rig;
  const Bytes data = test::pattern(6 * kAckInterval * kChunkSize, 9);
  auto delay = [](std::size_t frame) -> Clock::duration {
    Clock::duration late = frame / kAckInterval == 3 ? std::chrono::microseconds(100)
                                                      : Clock::duration::zero();
    return std::chrono::microseconds(112) + kFrameTime * static_cast<long>(frame % kAckInterval) +
           late;
  };
  BlockFeeder feeder(rig, test::chunks_of(data), {}, delay);
  Bytes buffer(data.size());
  Channel channel = rig.channel();
  ASSERT_EQ(block_receive(channel, buffer.data(), static_cast<std::uint32_t>(data.size())),
            Outcome::kOk);
  EXPECT_EQ(buffer, data);
  EXPECT_EQ(sequence(rig.events()),
            join({times(16, "T1408"), {"ACK"}, times(16, "T1408"), {"ACK"}, times(16, "T1408"),
                  {"ACK"}, times(16, "T1408"), {"ACK"}, times(16, "T1408"), {"ACK"},
                  times(16, "T1408"), {"ACK"}}));
  // 16 for each of the first two windows (not yet timed), 1 for the third, the late one's timer
  // and the 16 - 7 frames that had not come, 1 for the one after it (woken late, by the late
  // one's time), and 1 for the last.
  EXPECT_EQ(rig.wake_ups(), 2 * 16 + 1 + (1 + 9) + 1 + 1);
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

// A stop (the window closed) ends a transfer at its next frame even while the board's frames
// keep coming: a busy transfer never waits on silence, and a large image ran to its end.
TEST(BlockTransfer, AStopEndsATransferWhoseFramesKeepComing) {
  {
    LinkRig rig;
    std::atomic<bool> stop{false};
    int frames = 0;
    rig.script([&](std::uint16_t type, const std::uint8_t*, std::size_t) {
      if (type != link::kEtherHostData || ++frames % 16 != 0) return;
      rig.send_data(kPeerAck);
      stop = true;  // as the first window is acknowledged
    });
    Bytes data = test::pattern(45057);
    Channel channel = rig.channel();
    channel.stop = &stop;
    EXPECT_EQ(block_send(channel, data.data(), 45057), Outcome::kStopped);
    // The first window only; its acknowledgement is left unread.
    EXPECT_EQ(sequence(rig.events()), times(16, "H1408"));
  }
  {
    LinkRig rig;
    Bytes data = test::pattern(45057);
    for (const Bytes& chunk : test::chunks_of(data)) rig.send_data(chunk);
    std::atomic<bool> stop{false};
    rig.script([&](std::uint16_t, const std::uint8_t*, std::size_t) { stop = true; });
    Bytes buffer(45057);
    Channel channel = rig.channel();
    channel.stop = &stop;
    EXPECT_EQ(block_receive(channel, buffer.data(), 45057), Outcome::kStopped);
    EXPECT_EQ(sequence(rig.events()), join({times(16, "T1408"), {"ACK"}}));
  }
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

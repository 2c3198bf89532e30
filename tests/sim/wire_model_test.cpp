#include "sim/wire_model.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace skav::sim {
namespace {

using std::chrono::nanoseconds;

TEST(WireModel, CountsPreambleGapCheckSequenceAndTheMinimumFrame) {
  EXPECT_EQ(wire_bytes(14 + 1408), 1446u);  // a full data frame
  EXPECT_EQ(wire_bytes(14 + 64), 102u);     // an acknowledgement
  EXPECT_EQ(wire_bytes(14), 84u);           // padded to 60 bytes first
  EXPECT_EQ(wire_bytes(59), 84u);
  EXPECT_EQ(wire_bytes(61), 85u);
  EXPECT_EQ(serialization_time(1446, 1'000'000'000), nanoseconds(11568));
  EXPECT_EQ(serialization_time(1446, 100'000'000), nanoseconds(115680));
}

TEST(WireModel, ProtocolLimitIsSixteenFramesAndOneAcknowledgementPerTwoPropagations) {
  // 22528 bytes per window of 16 x 11.568 us + 0.816 us + 2 x 50 us.
  EXPECT_NEAR(protocol_limit(WireParameters{}), 22528 / 285.904e-6, 1.0);
  WireParameters no_delay{1'000'000'000, nanoseconds(0)};
  EXPECT_NEAR(protocol_limit(no_delay), 22528 / 185.904e-6, 1.0);
  EXPECT_GT(protocol_limit(no_delay), protocol_limit(WireParameters{}));
}

TEST(WireModel, FramesHandedOverTogetherQueueBehindEachOther) {
  WireDirection wire(WireParameters{});
  WireClock::time_point t0{std::chrono::seconds(100)};
  const nanoseconds data(11568);
  const nanoseconds propagation(50'000);
  EXPECT_EQ(wire.arrival(t0, 1422), t0 + data + propagation);
  EXPECT_EQ(wire.arrival(t0, 1422), t0 + 2 * data + propagation);
  // Handed over while the wire is still busy: waits for it.
  EXPECT_EQ(wire.arrival(t0 + nanoseconds(1000), 1422), t0 + 3 * data + propagation);
  // Handed over after the wire fell idle: starts at once.
  WireClock::time_point later = t0 + std::chrono::milliseconds(1);
  EXPECT_EQ(wire.arrival(later, 78), later + nanoseconds(816) + propagation);
}

TEST(WireModel, PreciseSleepNeverWakesBeforeItsDeadline) {
  for (auto delay : {nanoseconds(0), nanoseconds(3'000), nanoseconds(60'000)}) {
    WireClock::time_point deadline = WireClock::now() + delay;
    sleep_precisely_until(deadline);
    EXPECT_GE(WireClock::now(), deadline);
  }
  // A deadline in the past returns at once.
  sleep_precisely_until(WireClock::now() - std::chrono::seconds(1));
}

// Records what the model passes on (from the model's transmitting thread), and serves queued
// frames.
class ScriptedDevice : public link::FrameDevice {
 public:
  int send(const std::uint8_t* frame, std::size_t length) override {
    {
      std::lock_guard lock(mutex);
      sent.emplace_back(frame, frame + length);
      sent_at.push_back(WireClock::now());
    }
    changed.notify_all();
    return 0;
  }
  int receive(const std::uint8_t** frame, std::chrono::milliseconds) override {
    if (next >= queued.size()) return 0;
    *frame = queued[next].data();
    return static_cast<int>(queued[next++].size());
  }
  // Recorded, not slept: the test reads what the model asked for.
  void wait_frames(std::size_t count, std::chrono::nanoseconds length) override {
    waits.push_back({count, length});
  }
  bool wait_sent(std::size_t count) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(5), [&] { return sent.size() >= count; });
  }
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::vector<std::uint8_t>> sent;
  std::vector<WireClock::time_point> sent_at;
  std::vector<std::vector<std::uint8_t>> queued;
  std::size_t next = 0;
  std::vector<std::pair<std::size_t, nanoseconds>> waits;  // the board thread's only
};

TEST(WireModel, DevicePassesFramesUnchangedAndInOrder) {
  ScriptedDevice inner;
  inner.queued = {std::vector<std::uint8_t>(60, 0x11), std::vector<std::uint8_t>(1422, 0x22)};
  WireModelDevice device(inner, WireParameters{1'000'000'000, nanoseconds(1000)});

  const std::uint8_t* frame = nullptr;
  ASSERT_EQ(device.receive(&frame, std::chrono::milliseconds(20)), 60);
  EXPECT_EQ(frame, inner.queued[0].data());
  ASSERT_EQ(device.receive(&frame, std::chrono::milliseconds(20)), 1422);
  EXPECT_EQ(frame[1421], 0x22);
  EXPECT_EQ(device.receive(&frame, std::chrono::milliseconds(20)), 0);

  std::vector<std::uint8_t> first(100, 0x5a);
  std::vector<std::uint8_t> second(1422, 0xa5);
  EXPECT_EQ(device.send(first.data(), first.size()), 0);
  EXPECT_EQ(device.send(second.data(), second.size()), 0);
  ASSERT_TRUE(inner.wait_sent(2));
  std::lock_guard lock(inner.mutex);
  EXPECT_EQ(inner.sent[0], first);
  EXPECT_EQ(inner.sent[1], second);
}

TEST(WireModel, AnAnswerLeavesNoEarlierThanItsQuestionArrivedAndItCrossedTheWire) {
  ScriptedDevice inner;
  inner.queued = {std::vector<std::uint8_t>(1422, 0x11)};
  const nanoseconds propagation(2'000'000);  // 2 ms each way, far above the frames' own time
  WireModelDevice device(inner, WireParameters{1'000'000'000, propagation});
  const std::uint8_t* frame = nullptr;
  // Read the clock before the question is taken: the model stamps its arrival no earlier, so
  // the bound holds however late this thread runs afterwards.
  WireClock::time_point received = WireClock::now();
  ASSERT_EQ(device.receive(&frame, std::chrono::milliseconds(20)), 1422);
  std::uint8_t answer[64] = {};
  ASSERT_EQ(device.send(answer, sizeof answer), 0);
  ASSERT_TRUE(inner.wait_sent(1));
  std::lock_guard lock(inner.mutex);
  // In: the question's 11.568 us and 2 ms; out: the answer's 0.672 us and 2 ms.
  EXPECT_GE(inner.sent_at[0], received + 2 * propagation + nanoseconds(11568 + 672));
}

TEST(WireModel, AnEmptyDeviceIsSleptOnATimerUntilTheLastFrameTakenHasArrived) {
  ScriptedDevice inner;
  inner.queued = {std::vector<std::uint8_t>(1422, 0x11), std::vector<std::uint8_t>(1422, 0x22)};
  // Long enough that a slow machine still finds the arrival ahead when the device runs empty.
  const nanoseconds propagation(100'000'000);
  WireModelDevice device(inner, WireParameters{1'000'000'000, propagation});
  const std::uint8_t* frame = nullptr;
  // Frames already there are taken without a wait.
  ASSERT_EQ(device.receive(&frame, std::chrono::milliseconds(20)), 1422);
  ASSERT_EQ(device.receive(&frame, std::chrono::milliseconds(20)), 1422);
  EXPECT_TRUE(inner.waits.empty());
  // Nothing waiting: a timer (more than one frame asked for, so the socket does not wake it)
  // until the second frame's modelled arrival, some 100 ms away, but never beyond the time-out.
  EXPECT_EQ(device.receive(&frame, std::chrono::milliseconds(20)), 0);
  ASSERT_EQ(inner.waits.size(), 1u);
  EXPECT_GT(inner.waits[0].first, 1u);
  EXPECT_EQ(inner.waits[0].second, std::chrono::milliseconds(20));
  inner.waits.clear();
  EXPECT_EQ(device.receive(&frame, std::chrono::seconds(1)), 0);
  ASSERT_EQ(inner.waits.size(), 1u);
  EXPECT_GT(inner.waits[0].second, nanoseconds(0));
  EXPECT_LE(inner.waits[0].second, propagation + 2 * nanoseconds(11568));
  // Once that arrival has passed, the board waits on the device again (an idle board must not
  // sleep on a timer).
  std::this_thread::sleep_for(propagation + std::chrono::milliseconds(1));
  inner.waits.clear();
  EXPECT_EQ(device.receive(&frame, std::chrono::milliseconds(20)), 0);
  EXPECT_TRUE(inner.waits.empty());
}

}  // namespace
}  // namespace skav::sim

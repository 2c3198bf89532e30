#include "core/transfer/block_transfer.h"

#include <cstring>
#include <optional>

namespace skav::transfer {

const std::uint8_t kAckFrame[kAckSize] = {0x5A, 0x5A, 0x51, 0x37};

namespace {

using TimePoint = Clock::time_point;

// Polls the link until a call is accepted: a positive length, or a frame cut to the capacity.
// Nothing arriving, a foreign EtherType and an empty payload are not accepted. Gives up after
// a silence of the channel's timeout, counted from `since` when given, else from the first poll
// that came back empty. `length` is the number of bytes stored: the payload's, or the capacity
// when it was cut.
Outcome await_frame(Channel& channel, std::uint8_t* buffer, std::uint32_t capacity,
                    std::uint32_t& length, std::optional<TimePoint> since = std::nullopt) {
  TimePoint start = since.value_or(TimePoint{});
  bool started = since.has_value();
  for (;;) {
    // Asked before every frame, not only after an empty poll: a board whose frames keep
    // coming would otherwise hold a stopped station until the image's end.
    if (channel.stopping()) return Outcome::kStopped;
    int result = channel.link.receive_data_frame(buffer, capacity);
    if (result > 0 || result == -3) {
      length = result > 0 ? static_cast<std::uint32_t>(result) : capacity;
      return Outcome::kOk;
    }
    if (channel.link.adapter_lost()) return Outcome::kAdapterLost;
    // The clock is read only when a poll came back empty, never on the frame path.
    TimePoint now = channel.link.clock().now();
    if (!started) {
      start = now;
      started = true;
    } else if (now - start >= channel.timeout) {
      return Outcome::kTimeout;
    }
  }
}

Outcome await_frame(Channel& channel, std::uint8_t* buffer, std::uint32_t capacity,
                    std::optional<TimePoint> since = std::nullopt) {
  std::uint32_t length = 0;
  return await_frame(channel, buffer, capacity, length, since);
}

// Waiting for each frame as it comes wakes the station once per frame when reading (on a
// 1 Gbit/s wire they come 11.6 us apart) and, writing, lets it sleep the whole window's round
// trip (some 290 us) on the acknowledgement's own wake-up, which on a virtual machine comes
// some 40 us after the frame: the halted vCPU has to be run again by the host. So the pacer
// learns from each window how long the board took to complete it, from the window's start (its
// frames leaving, or the acknowledgement that asked for it) to the arrival of its last frame
// (or of its acknowledgement) by the platform's receive stamp, and sleeps on a timer until the
// next window should be complete: one wake-up takes the whole window. The link asks for that
// wake-up as much earlier as its wake-ups came late. The stamp, not the moment this thread
// took the frame, so that the station's own lateness does not add up from window to window. A
// window later than foretold is waited for as before, frame by frame; a platform without
// stamps is never paced. A window whose frames came in one burst (a fast link: the board sends
// them back to back), closer together than a wake-up comes late, is waited for on its first
// frame instead: by the time the woken thread runs, the rest of the burst is there, and a timer
// would only risk waking before the burst.
class Pacer {
 public:
  explicit Pacer(Channel& channel) : channel_(channel) {}

  // The window starts now: its frames are about to leave, or its acknowledgement has left.
  void start() {
    start_ = channel_.link.clock().now();
    started_ = true;
  }
  // Sleeps until `frames` frames (the window's, or its acknowledgement) should have arrived,
  // by the last window's span. Returns when the wait for them began (the window's start, or
  // none before the first start), from which their silence is counted.
  std::optional<TimePoint> sleep(std::uint32_t frames) {
    if (!started_) return std::nullopt;
    if (span_ > Clock::duration::zero() && span_ <= channel_.timeout)
      channel_.link.wait_frames(burst_ ? 1 : frames, start_ + span_);
    return start_;
  }
  // The window's first frame was taken (reading).
  void first_taken() { first_ = channel_.link.last_arrival(); }
  // The window's last frame (or its acknowledgement) was taken.
  void learn() {
    span_ = Clock::duration::zero();
    burst_ = false;
    if (!started_) return;
    std::optional<TimePoint> arrival = channel_.link.last_arrival();
    if (!arrival) return;
    Clock::duration span = *arrival - start_;
    // A round trip longer than a receive waits is not worth a timer.
    if (span <= link::kReadTimeout) span_ = span;
    burst_ = first_ && *arrival - *first_ <= channel_.link.wake_lead();
    first_.reset();
  }

 private:
  Channel& channel_;
  TimePoint start_{};
  bool started_ = false;
  Clock::duration span_{};  // the last window's; zero when not known
  std::optional<TimePoint> first_;  // when the window's first frame arrived, reading
  bool burst_ = false;              // the last window's frames came in one burst
};

// The frames of the window that starts with `left` bytes to go.
std::uint32_t window_frames(std::uint32_t left) {
  std::uint32_t frames = (left + kChunkSize - 1) / kChunkSize;
  return frames < kAckInterval ? frames : kAckInterval;
}

void report(Channel& channel, std::uint64_t done, std::uint64_t total) {
  if (channel.progress != nullptr) channel.progress->on_progress(done, total);
}

}  // namespace

Outcome block_send(Channel& channel, const std::uint8_t* data, std::uint32_t n) {
  if (n == 0) return Outcome::kOk;
  report(channel, 0, n);
  std::uint8_t ack[kAckSize];
  // A window is 16 frames (fewer at the end), sent in one go, then acknowledged: the
  // acknowledgement follows every 16th frame and the last, once when they coincide.
  constexpr std::uint32_t kWindowBytes = kChunkSize * kAckInterval;
  Pacer pacer(channel);
  for (std::uint32_t pos = 0; pos < n;) {
    std::uint32_t window = n - pos < kWindowBytes ? n - pos : kWindowBytes;
    pacer.start();
    channel.link.send_data_frames(data + pos, window, kChunkSize);
    pos += window;
    if (Outcome o = await_frame(channel, ack, kAckSize, pacer.sleep(1)); o != Outcome::kOk)
      return o;
    pacer.learn();
    report(channel, pos, n);
  }
  return Outcome::kOk;
}

Outcome block_receive(Channel& channel, std::uint8_t* data, std::uint32_t n) {
  if (n == 0) return Outcome::kOk;
  report(channel, 0, n);
  Pacer pacer(channel);
  std::uint32_t frames = 0;
  std::uint32_t pos = 0;
  for (;;) {
    std::uint32_t wanted = n - pos > kChunkSize ? kChunkSize : n - pos;
    std::optional<TimePoint> since;
    if (frames % kAckInterval == 0) since = pacer.sleep(window_frames(n - pos));
    if (Outcome o = await_frame(channel, data + pos, wanted, since); o != Outcome::kOk) return o;
    if (frames % kAckInterval == 0) pacer.first_taken();
    ++frames;
    pos += wanted;
    if (pos == n) break;
    if (frames % kAckInterval == 0) {
      pacer.learn();
      channel.link.send_data_frame(kAckFrame, kAckSize);
      pacer.start();
      report(channel, pos, n);
    }
  }
  channel.link.send_data_frame(kAckFrame, kAckSize);
  report(channel, n, n);
  return Outcome::kOk;
}

Outcome block_receive_compare(Channel& channel, const std::uint8_t* expected, std::uint32_t n,
                              bool& equal) {
  equal = true;
  if (n == 0) return Outcome::kOk;
  report(channel, 0, n);
  std::uint8_t chunk[kChunkSize];
  Pacer pacer(channel);
  std::uint32_t frames = 0;
  std::uint32_t pos = 0;
  for (;;) {
    std::uint32_t wanted = n - pos > kChunkSize ? kChunkSize : n - pos;
    std::uint32_t length = 0;
    std::optional<TimePoint> since;
    if (frames % kAckInterval == 0) since = pacer.sleep(window_frames(n - pos));
    if (Outcome o = await_frame(channel, chunk, wanted, length, since); o != Outcome::kOk)
      return o;
    // Bytes a short frame did not bring are not the image's: the copy differs.
    if (length < wanted || std::memcmp(chunk, expected + pos, wanted) != 0) equal = false;
    if (frames % kAckInterval == 0) pacer.first_taken();
    ++frames;
    pos += wanted;
    if (pos == n) break;
    if (frames % kAckInterval == 0) {
      pacer.learn();
      channel.link.send_data_frame(kAckFrame, kAckSize);
      pacer.start();
      report(channel, pos, n);
    }
  }
  channel.link.send_data_frame(kAckFrame, kAckSize);
  report(channel, n, n);
  return Outcome::kOk;
}

}  // namespace skav::transfer

#include "core/transfer/block_transfer.h"

#include <cstring>

namespace skav::transfer {

const std::uint8_t kAckFrame[kAckSize] = {0x5A, 0x5A, 0x51, 0x37};

namespace {

using TimePoint = Clock::time_point;

// Polls the link until a call is accepted: a positive length, or a frame cut to the capacity.
// Nothing arriving, a foreign EtherType and an empty payload are not accepted. Gives up after
// a silence of the channel's timeout, counted from the start of this wait.
// `length` is the number of bytes stored: the payload's, or the capacity when it was cut.
Outcome await_frame(Channel& channel, std::uint8_t* buffer, std::uint32_t capacity,
                    std::uint32_t& length) {
  TimePoint start{};
  bool started = false;
  for (;;) {
    int result = channel.link.receive_data_frame(buffer, capacity);
    if (result > 0 || result == -3) {
      length = result > 0 ? static_cast<std::uint32_t>(result) : capacity;
      return Outcome::kOk;
    }
    if (channel.link.adapter_lost()) return Outcome::kAdapterLost;
    if (channel.stopping()) return Outcome::kStopped;
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

Outcome await_frame(Channel& channel, std::uint8_t* buffer, std::uint32_t capacity) {
  std::uint32_t length = 0;
  return await_frame(channel, buffer, capacity, length);
}

// On a 1 Gbit/s wire a window's acknowledgement comes some 300 us after the window went out.
// A thread asleep that long on a virtual machine wakes slowly, because its halted vCPU has to
// be run again by the host: on a 2-vCPU guest the acknowledgement was taken 45 us after it
// arrived instead of 11 us, a sixth of the window. So when the last window's round trip was
// that long, the station wakes once about 150 us before the next acknowledgement is due
// (plus the kernel's timer slack) and sleeps again, and the acknowledgement finds a vCPU that
// is still warm. One wake-up more per window, no spinning. Nearer than about 60 us the two
// wake-ups collide and the gain is lost; 100 to 200 us ahead gave the same figures.
constexpr std::chrono::microseconds kWakeLead{150};
constexpr std::chrono::microseconds kSlowRoundTrip{250};

void anticipate_ack(Channel& channel, TimePoint sent, Clock::duration round_trip) {
  if (round_trip < kSlowRoundTrip || round_trip > link::kReadTimeout) return;
  Clock::duration left = sent + round_trip - kWakeLead - channel.link.clock().now();
  if (left > Clock::duration::zero()) channel.link.wait_for_frame(left);
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
  Clock::duration round_trip{};
  for (std::uint32_t pos = 0; pos < n;) {
    std::uint32_t window = n - pos < kWindowBytes ? n - pos : kWindowBytes;
    TimePoint sent = channel.link.clock().now();
    channel.link.send_data_frames(data + pos, window, kChunkSize);
    pos += window;
    anticipate_ack(channel, sent, round_trip);
    if (Outcome o = await_frame(channel, ack, kAckSize); o != Outcome::kOk) return o;
    round_trip = channel.link.clock().now() - sent;
    report(channel, pos, n);
  }
  return Outcome::kOk;
}

Outcome block_receive(Channel& channel, std::uint8_t* data, std::uint32_t n) {
  if (n == 0) return Outcome::kOk;
  report(channel, 0, n);
  std::uint32_t frames = 0;
  std::uint32_t pos = 0;
  while (n - pos > kChunkSize) {
    if (Outcome o = await_frame(channel, data + pos, kChunkSize); o != Outcome::kOk) return o;
    ++frames;
    pos += kChunkSize;
    if (frames % kAckInterval == 0) {
      channel.link.send_data_frame(kAckFrame, kAckSize);
      report(channel, pos, n);
    }
  }
  if (Outcome o = await_frame(channel, data + pos, n - pos); o != Outcome::kOk) return o;
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
  std::uint32_t frames = 0;
  std::uint32_t pos = 0;
  for (;;) {
    std::uint32_t wanted = n - pos > kChunkSize ? kChunkSize : n - pos;
    std::uint32_t length = 0;
    if (Outcome o = await_frame(channel, chunk, wanted, length); o != Outcome::kOk) return o;
    // Bytes a short frame did not bring are not the image's: the copy differs.
    if (length < wanted || std::memcmp(chunk, expected + pos, wanted) != 0) equal = false;
    ++frames;
    pos += wanted;
    if (pos == n) break;
    if (frames % kAckInterval == 0) {
      channel.link.send_data_frame(kAckFrame, kAckSize);
      report(channel, pos, n);
    }
  }
  channel.link.send_data_frame(kAckFrame, kAckSize);
  report(channel, n, n);
  return Outcome::kOk;
}

}  // namespace skav::transfer

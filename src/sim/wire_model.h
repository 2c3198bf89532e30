#pragma once

#include <chrono>
#include <cstddef>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "core/link/frame_device.h"

namespace skav::sim {

using WireClock = std::chrono::steady_clock;

// A modelled Ethernet wire: its bit rate and the propagation delay in each direction.
struct WireParameters {
  std::uint64_t bits_per_second = 1'000'000'000;
  std::chrono::nanoseconds propagation{50'000};
};

// Bytes a frame of `frame_length` (header and payload, as the link sends it) occupies on the
// wire: the 60-byte minimum, then check sequence (4), preamble (8) and inter-frame gap (12).
std::size_t wire_bytes(std::size_t frame_length);

// Time `bytes` take on a wire of that bit rate (rounded down to whole nanoseconds).
std::chrono::nanoseconds serialization_time(std::size_t bytes, std::uint64_t bits_per_second);

// The best throughput of the block transfer over the modelled wire, in bytes per second: full
// windows of 16 data frames of 1408 payload bytes, each window followed by the 64-byte
// acknowledgement, both directions paying the propagation delay once per window.
double protocol_limit(const WireParameters& wire);

// One direction of the modelled wire: frames leave one after another, each occupying the wire
// for its serialization time, and arrive one propagation delay after their last bit left.
class WireDirection {
 public:
  explicit WireDirection(WireParameters parameters) : parameters_(parameters) {}
  // The arrival time of a frame of `frame_length` handed to the wire at `sent`. Frames are
  // handed over in order; a frame waits for the wire while the previous one still occupies it.
  WireClock::time_point arrival(WireClock::time_point sent, std::size_t frame_length);

 private:
  WireParameters parameters_;
  WireClock::time_point free_{};
};

// How much of a precise sleep is spun after a pause (see wire_model.cpp).
inline constexpr std::chrono::microseconds kSpinMargin{40};

// Sleeps until `deadline` with microsecond precision: an absolute-time sleep with a 1 ns timer
// slack for the calling thread, then a spin over the last `spin`.
void sleep_precisely_until(WireClock::time_point deadline,
                           std::chrono::nanoseconds spin = kSpinMargin);

// A FrameDevice seen through a modelled wire, for the simulated board. Frames received are
// handed on at once (nothing the board does with them is visible until it answers), but each
// is given the time it would have arrived over the wire, counted from the inner device's
// receive stamp when it has one (else from the moment it was taken). The board answers in no
// time: a frame it sends is handed to the wire when the frame it answers arrived (later only
// by the board's own work), and leaves the inner device only when it would reach the far end.
// A thread of its own sends the frames at those times (real-time priority where allowed), so
// the board is never held up by the wire; it sends while the board thread may receive, which
// the inner device must allow (a packet socket does). Board thread: send and receive.
class WireModelDevice : public link::FrameDevice {
 public:
  WireModelDevice(link::FrameDevice& inner, WireParameters parameters);
  ~WireModelDevice() override;
  WireModelDevice(const WireModelDevice&) = delete;
  WireModelDevice& operator=(const WireModelDevice&) = delete;

  // Queues the frame for its arrival time; -1 when the queue stayed full for a second.
  int send(const std::uint8_t* frame, std::size_t length) override;
  int receive(const std::uint8_t** frame, std::chrono::milliseconds timeout) override;

 private:
  struct Pending {
    WireClock::time_point due;
    std::uint16_t length = 0;
    std::uint8_t bytes[link::kMaxFrame];
  };
  static constexpr std::size_t kSlots = 64;

  void transmit_loop();

  // Asked of the inner device's wait_frames: more than one frame, so that it sleeps on a timer.
  static constexpr std::size_t kTimerOnly = 2;

  link::FrameDevice& inner_;
  WireDirection inbound_;
  WireDirection outbound_;
  WireClock::time_point last_arrival_{};
  WireClock::duration taken_late_{};  // how long after its arrival the last frame was taken
  WireClock::time_point last_sent_{};  // the transmitting thread's: when its last frame was due

  std::mutex mutex_;
  std::condition_variable changed_;
  std::unique_ptr<Pending[]> pending_;
  std::size_t head_ = 0;
  std::size_t count_ = 0;
  bool stopping_ = false;
  std::thread transmitter_;
};

}  // namespace skav::sim

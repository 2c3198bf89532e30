#include "sim/wire_model.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <time.h>

#include <algorithm>
#include <cstring>

#include "core/transfer/block_transfer.h"

namespace skav::sim {

namespace {

constexpr std::size_t kCheckSequence = 4;
constexpr std::size_t kPreamble = 8;
constexpr std::size_t kInterFrameGap = 12;
// The last stretch of a precise sleep is spun: a timer wake-up comes late by some tens of
// microseconds in a virtual machine when the vCPU had halted, so a frame after a pause (an
// acknowledgement, a window's first frame) is spun for over the last 40 us. Between the frames
// of a window, 11.6 us apart, the CPU has had no time to halt and wake-ups come nearly on time:
// there 10 us is spun, or the model would spin through every window it sends, taking a core
// from the station and from the other port's board when two run at once. A wake-up later than
// its margin makes the frame late, which can only slow the modelled wire, never flatter the
// far end. kSpinMargin (wire_model.h) is the 40 us.
constexpr std::chrono::microseconds kStreamingSpinMargin{10};
constexpr std::chrono::microseconds kStreaming{100};  // a frame this soon after the last

}  // namespace

std::size_t wire_bytes(std::size_t frame_length) {
  return std::max(frame_length, link::kMinFrame) + kCheckSequence + kPreamble + kInterFrameGap;
}

std::chrono::nanoseconds serialization_time(std::size_t bytes, std::uint64_t bits_per_second) {
  return std::chrono::nanoseconds(
      static_cast<std::int64_t>(static_cast<std::uint64_t>(bytes) * 8 * 1'000'000'000ull /
                                bits_per_second));
}

double protocol_limit(const WireParameters& wire) {
  using transfer::kAckInterval;
  using transfer::kAckSize;
  using transfer::kChunkSize;
  auto data = serialization_time(wire_bytes(link::kEthernetHeader + kChunkSize),
                                 wire.bits_per_second);
  auto ack = serialization_time(wire_bytes(link::kEthernetHeader + kAckSize), wire.bits_per_second);
  auto window = data * kAckInterval + ack + 2 * wire.propagation;
  double bytes = static_cast<double>(kChunkSize) * kAckInterval;
  return bytes / std::chrono::duration<double>(window).count();
}

WireClock::time_point WireDirection::arrival(WireClock::time_point sent,
                                             std::size_t frame_length) {
  WireClock::time_point start = std::max(sent, free_);
  free_ = start + serialization_time(wire_bytes(frame_length), parameters_.bits_per_second);
  return free_ + parameters_.propagation;
}

void sleep_precisely_until(WireClock::time_point deadline, std::chrono::nanoseconds spin) {
  // Timer slack is per thread; the default 50 us would swamp the modelled delays.
  thread_local bool slack_set = false;
  if (!slack_set) {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    slack_set = true;
  }
  WireClock::time_point wake = deadline - spin;
  for (;;) {
    WireClock::time_point now = WireClock::now();
    if (now >= deadline) return;
    if (now >= wake) continue;  // at most kSpinMargin of spinning
    auto since_epoch = std::chrono::duration_cast<std::chrono::nanoseconds>(
        wake.time_since_epoch());
    timespec until{};
    until.tv_sec = static_cast<time_t>(since_epoch.count() / 1'000'000'000);
    until.tv_nsec = static_cast<long>(since_epoch.count() % 1'000'000'000);
    // steady_clock is CLOCK_MONOTONIC on Linux; an interrupted sleep is simply resumed.
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
  }
}

WireModelDevice::WireModelDevice(link::FrameDevice& inner, WireParameters parameters)
    : inner_(inner),
      inbound_(parameters),
      outbound_(parameters),
      pending_(std::make_unique<Pending[]>(kSlots)) {
  transmitter_ = std::thread([this] { transmit_loop(); });
}

WireModelDevice::~WireModelDevice() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  transmitter_.join();
}

int WireModelDevice::send(const std::uint8_t* frame, std::size_t length) {
  length = std::min(length, link::kMaxFrame);
  // The board answers no earlier than the frame it answers has arrived, and its own lateness
  // in taking that frame does not count.
  WireClock::time_point handed = std::max(WireClock::now() - taken_late_, last_arrival_);
  std::unique_lock lock(mutex_);
  if (!changed_.wait_for(lock, std::chrono::seconds(1), [this] { return count_ < kSlots; }))
    return -1;
  Pending& slot = pending_[(head_ + count_) % kSlots];
  slot.due = outbound_.arrival(handed, length);
  slot.length = static_cast<std::uint16_t>(length);
  std::memcpy(slot.bytes, frame, length);
  ++count_;
  lock.unlock();
  changed_.notify_all();
  return 0;
}

int WireModelDevice::receive(const std::uint8_t** frame, std::chrono::milliseconds timeout) {
  // The far end's frames reach the inner device at once, well ahead of their modelled arrival,
  // and none can arrive before the one last taken. So when the inner device is empty, the board
  // sleeps on a timer until that arrival before it waits on the socket: a board asleep on the
  // socket is woken by every frame that finds it so, and on a veth pair each of those wake-ups
  // is paid by the sender's CPU (the station's, mid-window), a cost no real board puts on it.
  // The first frame of a window still wakes the board at once, which keeps its answers timely
  // when the machine is busy.
  int length = inner_.receive(frame, std::chrono::milliseconds(0));
  if (length == 0) {
    WireClock::time_point start = WireClock::now();
    if (last_arrival_ > start)
      inner_.wait_frames(kTimerOnly, std::min<WireClock::duration>(last_arrival_ - start, timeout));
    // The timer's sleep counts against the time-out.
    auto slept = std::chrono::ceil<std::chrono::milliseconds>(WireClock::now() - start);
    length = inner_.receive(frame, std::max(std::chrono::milliseconds(0), timeout - slept));
  }
  if (length <= 0) return length;
  // The frame entered the wire when the far end sent it: the platform's stamp tells when that
  // was, however late this thread woke up to take it.
  WireClock::time_point now = WireClock::now();
  WireClock::time_point sent = now;
  if (auto stamp = inner_.last_receive_stamp()) {
    auto age = std::chrono::system_clock::now() - *stamp;
    if (age > std::chrono::system_clock::duration::zero() && age < std::chrono::seconds(1))
      sent = now - std::chrono::duration_cast<WireClock::duration>(age);
  }
  last_arrival_ = inbound_.arrival(sent, static_cast<std::size_t>(length));
  // A board answers at once: how late this thread took the frame is not the board's time.
  taken_late_ = std::max(WireClock::duration::zero(), now - last_arrival_);
  return length;
}

void WireModelDevice::transmit_loop() {
  // The timing of the modelled wire needs the wake-ups on time: a real-time priority where the
  // process may have it (root), else the ordinary one.
  sched_param priority{};
  priority.sched_priority = 1;
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return count_ > 0 || stopping_; });
    if (stopping_) return;
    Pending& slot = pending_[head_];
    lock.unlock();
    // The board thread only appends behind the head: the head slot is this thread's.
    bool streaming = slot.due - last_sent_ < kStreaming;
    sleep_precisely_until(slot.due, streaming ? kStreamingSpinMargin : kSpinMargin);
    inner_.send(slot.bytes, slot.length);
    last_sent_ = slot.due;
    lock.lock();
    head_ = (head_ + 1) % kSlots;
    --count_;
    changed_.notify_all();
  }
}

}  // namespace skav::sim

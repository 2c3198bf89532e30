#include "core/link/in_memory.h"

#include <cstring>

namespace skav::link {

FrameQueue::FrameQueue(std::size_t slots) : slots_(slots) {}

void FrameQueue::push(const std::uint8_t* frame, std::size_t length) {
  if (length > kMaxFrame) length = kMaxFrame;
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    if (count_ == slots_.size()) return;
    Slot& slot = slots_[(head_ + count_) % slots_.size()];
    slot.length = static_cast<std::uint16_t>(length);
    slot.arrived = Clock::now();
    std::memcpy(slot.bytes.data(), frame, length);
    ++count_;
    // A thread waiting for a whole window is woken once, by its last frame.
    wake = count_ == wanted_;
  }
  if (wake) ready_.notify_one();
}

int FrameQueue::pop(std::uint8_t* out, std::chrono::milliseconds timeout,
                    Clock::time_point* arrived) {
  std::unique_lock lock(mutex_);
  if (count_ == 0) {
    if (timeout <= std::chrono::milliseconds::zero()) return 0;
    ++sleeps_;
    if (!ready_.wait_for(lock, timeout, [this] { return count_ > 0; })) return 0;
  }
  Slot& slot = slots_[head_];
  std::memcpy(out, slot.bytes.data(), slot.length);
  if (arrived != nullptr) *arrived = slot.arrived;
  head_ = (head_ + 1) % slots_.size();
  --count_;
  return slot.length;
}

void FrameQueue::wait_for(std::size_t count, std::chrono::nanoseconds length) {
  std::unique_lock lock(mutex_);
  if (count == 0 || count_ >= count || length <= std::chrono::nanoseconds::zero()) return;
  ++sleeps_;
  wanted_ = count;
  ready_.wait_for(lock, length, [this, count] { return count_ >= count; });
  wanted_ = 1;
}

std::uint64_t FrameQueue::sleeps() const {
  std::lock_guard lock(mutex_);
  return sleeps_;
}

std::size_t FrameQueue::size() const {
  std::lock_guard lock(mutex_);
  return count_;
}

void FrameQueue::clear() {
  std::lock_guard lock(mutex_);
  head_ = 0;
  count_ = 0;
}

class InMemoryWire::End : public FrameDevice {
 public:
  End(FrameQueue& out, FrameQueue& in) : out_(out), in_(in) {}
  int send(const std::uint8_t* frame, std::size_t length) override {
    out_.push(frame, length);
    return 0;
  }
  int receive(const std::uint8_t** frame, std::chrono::milliseconds timeout) override {
    FrameQueue::Clock::time_point arrived{};
    int n = in_.pop(buffer_.data(), timeout, &arrived);
    *frame = buffer_.data();
    if (n > 0) arrived_ = arrived;
    return n;
  }
  void wait_readable(std::chrono::nanoseconds length) override { in_.wait_for(1, length); }
  void wait_frames(std::size_t count, std::chrono::nanoseconds length) override {
    in_.wait_for(count, length);
  }
  // The moment the frame was queued stands for its arrival stamp.
  std::optional<std::chrono::nanoseconds> last_receive_age() const override {
    if (!arrived_) return std::nullopt;
    return FrameQueue::Clock::now() - *arrived_;
  }

 private:
  FrameQueue& out_;
  FrameQueue& in_;
  std::array<std::uint8_t, kMaxFrame> buffer_{};
  std::optional<FrameQueue::Clock::time_point> arrived_;
};

InMemoryWire::InMemoryWire()
    : station_(std::make_unique<End>(to_board_, to_station_)),
      board_(std::make_unique<End>(to_station_, to_board_)) {}

InMemoryWire::~InMemoryWire() = default;

FrameDevice& InMemoryWire::station_end() { return *station_; }
FrameDevice& InMemoryWire::board_end() { return *board_; }

struct InMemoryBackend::Presence {
  std::atomic<bool> present{true};
  std::atomic<unsigned> generation{0};  // one more each time the adapter goes away
  std::atomic<bool> quiet{false};         // it went away quietly
  std::atomic<bool> sends_refused{false};  // ... and refuses the sends of its old devices
};

// The station's handle on its end of the wire; the wire itself outlives it. Fails, or goes
// quiet, once the adapter it was opened on has gone away, as a real device does.
class InMemoryBackend::Device : public FrameDevice {
 public:
  Device(FrameDevice& end, std::shared_ptr<const Presence> presence)
      : end_(end), presence_(std::move(presence)), opened_(presence_->generation.load()) {}
  int send(const std::uint8_t* frame, std::size_t length) override {
    if (!alive()) return sends_go_nowhere() ? 0 : -1;
    return end_.send(frame, length);
  }
  // A quiet dead device hears nothing, at once: the link pauses between its receives.
  int receive(const std::uint8_t** frame, std::chrono::milliseconds timeout) override {
    if (!alive()) return presence_->quiet.load() ? 0 : -1;
    return end_.receive(frame, timeout);
  }
  std::size_t send_frames(const std::uint8_t* header, const std::uint8_t* const* payloads,
                          const std::size_t* lengths, std::size_t count) override {
    if (!alive()) return sends_go_nowhere() ? count : 0;
    return end_.send_frames(header, payloads, lengths, count);
  }
  void wait_readable(std::chrono::nanoseconds length) override {
    if (alive()) end_.wait_readable(length);
  }
  void wait_frames(std::size_t count, std::chrono::nanoseconds length) override {
    if (alive()) end_.wait_frames(count, length);
  }
  std::optional<std::chrono::nanoseconds> last_receive_age() const override {
    return end_.last_receive_age();
  }
  bool still_present() const override { return alive(); }

 private:
  bool alive() const {
    return presence_->present.load() && presence_->generation.load() == opened_;
  }
  bool sends_go_nowhere() const {
    return presence_->quiet.load() && !presence_->sends_refused.load();
  }

  FrameDevice& end_;
  std::shared_ptr<const Presence> presence_;
  unsigned opened_;  // the adapter's generation when this device was opened
};

InMemoryBackend::InMemoryBackend(InMemoryWire& wire, Mac host_mac)
    : InMemoryBackend(wire.station_end(), host_mac) {}

InMemoryBackend::InMemoryBackend(FrameDevice& station_end, Mac host_mac)
    : end_(station_end), presence_(std::make_shared<Presence>()), host_mac_(host_mac) {}

InMemoryBackend::~InMemoryBackend() = default;

AdapterListing InMemoryBackend::list_adapters() {
  AdapterListing listing;
  if (!listing_error_.empty()) {
    listing.ok = false;
    listing.error = listing_error_;
    listing.permission_denied = listing_permission_denied_;
    return listing;
  }
  if (presence_->present.load()) listing.adapters.push_back({kAdapterName, kAdapterDescription});
  for (const AdapterInfo& extra : extra_) listing.adapters.push_back(extra);
  return listing;
}

std::optional<Mac> InMemoryBackend::adapter_mac(const std::string& name) {
  if (name != kAdapterName) return std::nullopt;
  return host_mac_;
}

OpenResult InMemoryBackend::open(const std::string& name) {
  if (fail_open_) return {nullptr, open_error_, open_permission_denied_};
  if (name != kAdapterName || !presence_->present.load())
    return {nullptr, "no such simulated adapter", false};
  return {std::make_unique<Device>(end_, presence_), {}, false};
}

void InMemoryBackend::set_present(bool present) {
  if (!present && presence_->present.load()) {
    presence_->quiet = false;
    ++presence_->generation;
  }
  presence_->present = present;
}

void InMemoryBackend::vanish_quietly(bool sends_refused) {
  presence_->quiet = true;
  presence_->sends_refused = sends_refused;
  ++presence_->generation;
  presence_->present = false;
}

}  // namespace skav::link

#include "core/link/in_memory.h"

#include <cstring>

namespace skav::link {

FrameQueue::FrameQueue(std::size_t slots) : slots_(slots) {}

void FrameQueue::push(const std::uint8_t* frame, std::size_t length) {
  if (length > kMaxFrame) length = kMaxFrame;
  {
    std::lock_guard lock(mutex_);
    if (count_ == slots_.size()) return;
    Slot& slot = slots_[(head_ + count_) % slots_.size()];
    slot.length = static_cast<std::uint16_t>(length);
    std::memcpy(slot.bytes.data(), frame, length);
    ++count_;
  }
  ready_.notify_one();
}

int FrameQueue::pop(std::uint8_t* out, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (count_ == 0 && !ready_.wait_for(lock, timeout, [this] { return count_ > 0; })) return 0;
  Slot& slot = slots_[head_];
  std::memcpy(out, slot.bytes.data(), slot.length);
  head_ = (head_ + 1) % slots_.size();
  --count_;
  return slot.length;
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
    int n = in_.pop(buffer_.data(), timeout);
    *frame = buffer_.data();
    return n;
  }

 private:
  FrameQueue& out_;
  FrameQueue& in_;
  std::array<std::uint8_t, kMaxFrame> buffer_{};
};

InMemoryWire::InMemoryWire()
    : station_(std::make_unique<End>(to_board_, to_station_)),
      board_(std::make_unique<End>(to_station_, to_board_)) {}

InMemoryWire::~InMemoryWire() = default;

FrameDevice& InMemoryWire::station_end() { return *station_; }
FrameDevice& InMemoryWire::board_end() { return *board_; }

namespace {
// The station's handle on its end of the wire; the wire itself outlives it. Fails once the
// adapter has gone away, as a real device does.
class Borrowed : public FrameDevice {
 public:
  Borrowed(FrameDevice& end, std::shared_ptr<std::atomic<bool>> present)
      : end_(end), present_(std::move(present)) {}
  int send(const std::uint8_t* frame, std::size_t length) override {
    if (!present_->load()) return -1;
    return end_.send(frame, length);
  }
  int receive(const std::uint8_t** frame, std::chrono::milliseconds timeout) override {
    if (!present_->load()) return -1;
    return end_.receive(frame, timeout);
  }
  std::size_t send_frames(const std::uint8_t* header, const std::uint8_t* const* payloads,
                          const std::size_t* lengths, std::size_t count) override {
    if (!present_->load()) return 0;
    return end_.send_frames(header, payloads, lengths, count);
  }
  void wait_readable(std::chrono::nanoseconds length) override { end_.wait_readable(length); }

 private:
  FrameDevice& end_;
  std::shared_ptr<std::atomic<bool>> present_;
};
}  // namespace

InMemoryBackend::InMemoryBackend(InMemoryWire& wire, Mac host_mac)
    : InMemoryBackend(wire.station_end(), host_mac) {}

InMemoryBackend::InMemoryBackend(FrameDevice& station_end, Mac host_mac)
    : end_(station_end), host_mac_(host_mac) {}

AdapterListing InMemoryBackend::list_adapters() {
  AdapterListing listing;
  if (!listing_error_.empty()) {
    listing.ok = false;
    listing.error = listing_error_;
    listing.permission_denied = listing_permission_denied_;
    return listing;
  }
  if (present_->load()) listing.adapters.push_back({kAdapterName, kAdapterDescription});
  for (const AdapterInfo& extra : extra_) listing.adapters.push_back(extra);
  return listing;
}

std::optional<Mac> InMemoryBackend::adapter_mac(const std::string& name) {
  if (name != kAdapterName) return std::nullopt;
  return host_mac_;
}

OpenResult InMemoryBackend::open(const std::string& name) {
  if (fail_open_) return {nullptr, open_error_, open_permission_denied_};
  if (name != kAdapterName || !present_->load()) return {nullptr, "no such simulated adapter", false};
  return {std::make_unique<Borrowed>(end_, present_), {}, false};
}

}  // namespace skav::link

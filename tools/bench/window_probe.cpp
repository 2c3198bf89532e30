#include "bench/window_probe.h"

#include <chrono>
#include <cstring>
#include <utility>

#include "core/transfer/block_transfer.h"

namespace skav::bench {

void WindowFigures::add(const WindowFigures& other) {
  write_turnaround_us.insert(write_turnaround_us.end(), other.write_turnaround_us.begin(),
                             other.write_turnaround_us.end());
  read_turnaround_us.insert(read_turnaround_us.end(), other.read_turnaround_us.begin(),
                            other.read_turnaround_us.end());
  write_windows += other.write_windows;
  write_wake_ups += other.write_wake_ups;
  read_windows += other.read_windows;
  read_wake_ups += other.read_wake_ups;
}

// Tells the sends apart: a window of 16 data frames (Block Send), the station's
// acknowledgement (Block Receive), anything else; and counts the data frames taken and the
// device's wake-ups since the last send. A window counts when the send before it was of the
// same kind and exactly the frames of one window came in between: an acknowledgement
// (writing), or 16 data frames (reading).
class WindowProbe::Device : public link::FrameDevice {
 public:
  Device(std::unique_ptr<link::FrameDevice> inner, std::function<std::uint64_t()> wake_ups,
         std::shared_ptr<WindowFigures> figures)
      : inner_(std::move(inner)), wake_ups_(std::move(wake_ups)), figures_(std::move(figures)) {}

  int send(const std::uint8_t* frame, std::size_t length) override {
    bool ack = length == link::kEthernetHeader + transfer::kAckSize &&
               link::ether_type(frame) == link::kEtherHostData &&
               std::memcmp(frame + link::kEthernetHeader, transfer::kAckFrame, 4) == 0;
    if (ack && last_ == Sent::kAck && taken_ == transfer::kAckInterval) {
      ++figures_->read_windows;
      figures_->read_wake_ups += wake_ups_() - wake_mark_;
      note(figures_->read_turnaround_us);
    }
    sent(ack ? Sent::kAck : Sent::kOther);
    return inner_->send(frame, length);
  }

  std::size_t send_frames(const std::uint8_t* header, const std::uint8_t* const* payloads,
                          const std::size_t* lengths, std::size_t count) override {
    bool window = count == transfer::kAckInterval;
    if (window && last_ == Sent::kWindow && taken_ == 1) {
      ++figures_->write_windows;
      figures_->write_wake_ups += wake_ups_() - wake_mark_;
      note(figures_->write_turnaround_us);
    }
    sent(window ? Sent::kWindow : Sent::kOther);
    return inner_->send_frames(header, payloads, lengths, count);
  }

  int receive(const std::uint8_t** frame, std::chrono::milliseconds timeout) override {
    int length = inner_->receive(frame, timeout);
    if (length > static_cast<int>(link::kEthernetHeader)) ++taken_;
    return length;
  }
  void wait_readable(std::chrono::nanoseconds length) override { inner_->wait_readable(length); }
  void wait_frames(std::size_t count, std::chrono::nanoseconds length) override {
    inner_->wait_frames(count, length);
  }
  std::optional<std::chrono::system_clock::time_point> last_receive_stamp() const override {
    return inner_->last_receive_stamp();
  }
  std::optional<std::chrono::nanoseconds> last_receive_age() const override {
    return inner_->last_receive_age();
  }

 private:
  enum class Sent { kNone, kWindow, kAck, kOther };

  void note(std::vector<double>& turnarounds) {
    if (std::optional<std::chrono::nanoseconds> age = inner_->last_receive_age())
      turnarounds.push_back(std::chrono::duration<double, std::micro>(*age).count());
  }
  void sent(Sent kind) {
    last_ = kind;
    taken_ = 0;
    wake_mark_ = wake_ups_();
  }

  std::unique_ptr<link::FrameDevice> inner_;
  std::function<std::uint64_t()> wake_ups_;
  std::shared_ptr<WindowFigures> figures_;
  Sent last_ = Sent::kNone;
  std::uint32_t taken_ = 0;  // data frames taken since the last send
  std::uint64_t wake_mark_ = 0;
};

link::OpenResult WindowProbe::open(const std::string& name) {
  link::OpenResult opened = inner_.open(name);
  if (opened.device)
    opened.device = std::make_unique<Device>(std::move(opened.device), wake_ups_, figures_);
  return opened;
}

WindowFigures WindowProbe::take() { return std::exchange(*figures_, WindowFigures{}); }

}  // namespace skav::bench

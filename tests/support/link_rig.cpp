#include "support/link_rig.h"

#include <algorithm>
#include <cstring>

namespace skav::test {

Bytes make_frame(const link::Mac& destination, const link::Mac& source, std::uint16_t ether_type,
                 const Bytes& payload) {
  Bytes frame(link::kEthernetHeader + payload.size());
  link::write_header(frame.data(), destination, source, ether_type);
  std::copy(payload.begin(), payload.end(), frame.begin() + link::kEthernetHeader);
  return frame;
}

Bytes pattern(std::size_t n, unsigned seed) {
  Bytes bytes(n);
  std::uint32_t x = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    bytes[i] = static_cast<std::uint8_t>(x >> 16);
  }
  return bytes;
}

std::vector<std::string> sequence(const std::vector<WireEvent>& events) {
  std::vector<std::string> out;
  for (const WireEvent& e : events) {
    if (e.sent && e.ether_type == link::kEtherHostData) {
      bool ack = e.payload_length() == transfer::kAckSize &&
                 std::memcmp(e.payload(), transfer::kAckFrame, 4) == 0;
      out.push_back(ack ? "ACK" : "H" + std::to_string(e.payload_length()));
    } else if (!e.sent && e.ether_type == link::kEtherTargetData) {
      out.push_back("T" + std::to_string(e.payload_length()));
    } else if (e.sent) {
      out.push_back("S" + std::to_string(e.ether_type));
    } else {
      out.push_back("x");
    }
  }
  return out;
}

std::vector<Bytes> chunks_of(const Bytes& data) {
  std::vector<Bytes> frames;
  for (std::size_t pos = 0; pos < data.size(); pos += transfer::kChunkSize) {
    std::size_t end = std::min<std::size_t>(data.size(), pos + transfer::kChunkSize);
    frames.emplace_back(data.begin() + static_cast<std::ptrdiff_t>(pos),
                        data.begin() + static_cast<std::ptrdiff_t>(end));
  }
  return frames;
}

// Notes every frame between the station's Link and its end of the cable.
class LinkRig::Recorder : public link::FrameDevice {
 public:
  Recorder(link::FrameDevice& inner, Clock& clock) : inner_(inner), clock_(clock) {}
  int send(const std::uint8_t* frame, std::size_t length) override {
    record(true, frame, length);
    return inner_.send(frame, length);
  }
  int receive(const std::uint8_t** frame, std::chrono::milliseconds timeout) override {
    Clock::time_point before = clock_.now();
    int length = inner_.receive(frame, timeout);
    if (clock_.now() != before) ++wake_ups;
    if (length > 0) record(false, *frame, static_cast<std::size_t>(length));
    return length;
  }
  void wait_readable(std::chrono::nanoseconds length) override {
    Clock::time_point asked = clock_.now();
    waits.push_back({asked, asked + std::chrono::duration_cast<Clock::duration>(length), 1});
    inner_.wait_readable(length);
    if (clock_.now() != asked) ++wake_ups;
  }
  void wait_frames(std::size_t count, std::chrono::nanoseconds length) override {
    Clock::time_point asked = clock_.now();
    waits.push_back({asked, asked + std::chrono::duration_cast<Clock::duration>(length), count});
    inner_.wait_frames(count, length);
    if (clock_.now() != asked) ++wake_ups;
  }
  std::optional<std::chrono::nanoseconds> last_receive_age() const override {
    return inner_.last_receive_age();
  }

  std::vector<WireEvent> events;
  std::vector<Wait> waits;
  int wake_ups = 0;

 private:
  void record(bool sent, const std::uint8_t* frame, std::size_t length) {
    if (length < link::kEthernetHeader) return;
    events.push_back({sent, link::ether_type(frame), Bytes(frame, frame + length)});
  }
  link::FrameDevice& inner_;
  Clock& clock_;
};

LinkRig::LinkRig(Options options)
    : recorder_(std::make_unique<Recorder>(cable_.station_end(), cable_.clock())),
      backend_(*recorder_, options.host),
      link_(backend_, cable_.clock()) {
  if (!options.open) return;
  link::AdapterList list;
  link_.enumerate_adapters(nullptr, list);
  link_.open_adapter(nullptr, 1);
  link_.set_target_mac(kBoardMac);
}

LinkRig::~LinkRig() { cable_.set_peer(nullptr); }

sim::SimBoard& LinkRig::plug(sim::BoardOptions options) {
  boards_.push_back(std::make_unique<sim::SimBoard>(cable_.board_end(), std::move(options)));
  cable_.set_peer(serve(*boards_.back()));
  return *boards_.back();
}

sim::BoardLine& LinkRig::plug_line(const sim::BoardOptions& first, int count, bool keep_boards) {
  cable_.set_peer(nullptr);
  line_ = std::make_unique<sim::BoardLine>(cable_.board_end(), first, count, keep_boards);
  cable_.set_peer(serve(*line_));
  return *line_;
}

void LinkRig::script(Script script) {
  cable_.set_peer([script = std::move(script)](const std::uint8_t* frame, std::size_t length) {
    if (frame == nullptr || length < link::kEthernetHeader) return;
    script(link::ether_type(frame), frame + link::kEthernetHeader, length - link::kEthernetHeader);
  });
}

void LinkRig::unplug() { cable_.set_peer(nullptr); }

void LinkRig::send(const Bytes& frame) { cable_.board_end().send(frame.data(), frame.size()); }

void LinkRig::send(std::uint16_t ether_type, const std::uint8_t* payload, std::size_t length) {
  send(make_frame(link::kBroadcast, kBoardMac, ether_type,
                  length > 0 ? Bytes(payload, payload + length) : Bytes()));
}

void LinkRig::send_data_after(const Bytes& payload, Clock::duration delay) {
  Bytes frame = make_frame(link::kBroadcast, kBoardMac, link::kEtherTargetData, payload);
  cable_.deliver_after(frame.data(), frame.size(), delay);
}

std::vector<WireEvent> LinkRig::events() const { return recorder_->events; }

std::vector<WireEvent> LinkRig::sent() const {
  std::vector<WireEvent> out;
  for (const WireEvent& e : recorder_->events)
    if (e.sent) out.push_back(e);
  return out;
}

std::vector<WireEvent> LinkRig::taken() const {
  std::vector<WireEvent> out;
  for (const WireEvent& e : recorder_->events)
    if (!e.sent) out.push_back(e);
  return out;
}

void LinkRig::clear() {
  recorder_->events.clear();
  recorder_->waits.clear();
  recorder_->wake_ups = 0;
}

std::vector<LinkRig::Wait> LinkRig::waits() const { return recorder_->waits; }

int LinkRig::wake_ups() const { return recorder_->wake_ups; }

BlockFeeder::BlockFeeder(LinkRig& rig, std::vector<Bytes> frames, std::function<void()> before_each,
                         Delay delay)
    : rig_(rig),
      frames_(std::move(frames)),
      before_each_(std::move(before_each)),
      delay_(std::move(delay)) {
  rig_.script([this](std::uint16_t, const std::uint8_t*, std::size_t) {
    if (!done()) send_window();
  });
  if (!done()) send_window();
}

void BlockFeeder::send_window() {
  do {
    if (before_each_) before_each_();
    if (delay_) {
      rig_.send_data_after(frames_[next_], delay_(next_));
    } else {
      rig_.send_data(frames_[next_]);
    }
    ++next_;
  } while (next_ % transfer::kAckInterval != 0 && next_ < frames_.size());
}

}  // namespace skav::test

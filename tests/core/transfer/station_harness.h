#pragma once

// The station's end of an in-process link for protocol tests: a Link opened on the wire's
// station end through a recorder that notes every frame the station sends and takes, in the
// order the station's thread sees them; and helpers that run a peer (the simulated board or a
// scripted one) on the board's end in a thread of its own.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board/sim_board.h"
#include "core/link/discovery.h"
#include "core/link/in_memory.h"
#include "core/link/link.h"
#include "core/transfer/block_transfer.h"

namespace skav::test {

inline constexpr link::Mac kHostMac = {0x02, 0x53, 0x4b, 0x41, 0x56, 0x00};
inline constexpr link::Mac kBoardMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

// One frame as the station's side saw it.
struct WireEvent {
  bool sent = false;  // by the station; else taken by the station
  std::uint16_t ether_type = 0;
  std::vector<std::uint8_t> frame;
  std::size_t payload_length() const { return frame.size() - link::kEthernetHeader; }
  const std::uint8_t* payload() const { return frame.data() + link::kEthernetHeader; }
};

// Wraps the station's end of a wire and records every frame passing through it.
class RecordingDevice : public link::FrameDevice {
 public:
  explicit RecordingDevice(link::FrameDevice& inner) : inner_(inner) {}
  int send(const std::uint8_t* frame, std::size_t length) override {
    record(true, frame, length);
    return inner_.send(frame, length);
  }
  int receive(const std::uint8_t** frame, std::chrono::milliseconds timeout) override {
    int length = inner_.receive(frame, timeout);
    if (length > 0) record(false, *frame, static_cast<std::size_t>(length));
    return length;
  }
  // Noted with the moment it was asked for; then passed on.
  void wait_readable(std::chrono::steady_clock::time_point until) override {
    {
      std::lock_guard lock(mutex_);
      waits_.push_back({std::chrono::steady_clock::now(), until});
    }
    inner_.wait_readable(until);
  }
  std::vector<WireEvent> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  struct Wait {
    std::chrono::steady_clock::time_point asked;
    std::chrono::steady_clock::time_point until;
  };
  std::vector<Wait> waits() const {
    std::lock_guard lock(mutex_);
    return waits_;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }

 private:
  void record(bool sent, const std::uint8_t* frame, std::size_t length) {
    if (length < link::kEthernetHeader) return;
    std::lock_guard lock(mutex_);
    events_.push_back({sent, link::ether_type(frame), std::vector<std::uint8_t>(frame, frame + length)});
  }
  link::FrameDevice& inner_;
  mutable std::mutex mutex_;
  std::vector<WireEvent> events_;
  std::vector<Wait> waits_;
};

// A backend with one adapter, "rec0", whose device is the recorder.
class RecordingBackend : public link::FrameBackend {
 public:
  explicit RecordingBackend(RecordingDevice& device) : device_(device) {}
  link::AdapterListing list_adapters() override {
    link::AdapterListing listing;
    listing.adapters.push_back({"rec0", "recorded in-process link"});
    return listing;
  }
  std::optional<link::Mac> adapter_mac(const std::string&) override { return kHostMac; }
  link::OpenResult open(const std::string&) override {
    return {std::make_unique<Forward>(device_), {}};
  }

 private:
  class Forward : public link::FrameDevice {
   public:
    explicit Forward(link::FrameDevice& to) : to_(to) {}
    int send(const std::uint8_t* f, std::size_t n) override { return to_.send(f, n); }
    int receive(const std::uint8_t** f, std::chrono::milliseconds t) override {
      return to_.receive(f, t);
    }
    void wait_readable(std::chrono::steady_clock::time_point until) override {
      to_.wait_readable(until);
    }

   private:
    link::FrameDevice& to_;
  };
  RecordingDevice& device_;
};

// The station's side: an opened Link over a recorded in-process wire.
class StationSide {
 public:
  StationSide() : recorder_(wire_.station_end()), backend_(recorder_), link_(backend_) {
    link::AdapterList list;
    link_.enumerate_adapters(nullptr, list);
    link_.open_adapter(nullptr, 1);
    link_.set_target_mac(kBoardMac);
  }
  link::InMemoryWire& wire() { return wire_; }
  link::Link& link() { return link_; }
  RecordingDevice& recorder() { return recorder_; }
  transfer::Channel channel(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    transfer::Channel channel{link_};
    channel.timeout = timeout;
    return channel;
  }

 private:
  link::InMemoryWire wire_;
  RecordingDevice recorder_;
  RecordingBackend backend_;
  link::Link link_;
};

// A discovery pause that does not sleep: the in-process link answers at once.
inline void no_pause(std::chrono::milliseconds) {}

// Probes until a board answers, without pausing between attempts; bounded (a correct board
// answers the first probe).
inline bool discover(link::Link& link) {
  for (int attempt = 0; attempt < 50; ++attempt)
    if (link::find_target(link, no_pause) == 1) return true;
  return false;
}

// Runs a simulated board on a device in a thread of its own for the object's lifetime.
class BoardThread {
 public:
  BoardThread(link::FrameDevice& device, board::BoardOptions options = {})
      : board_(device, std::move(options)), thread_([this] { board_.run(stop_); }) {}
  ~BoardThread() {
    stop_ = true;
    thread_.join();
  }
  BoardThread(const BoardThread&) = delete;
  BoardThread& operator=(const BoardThread&) = delete;
  board::SimBoard& board() { return board_; }

 private:
  board::SimBoard board_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Waits (bounded) until the board has completed `n` Command Exchanges: the station's last
// acknowledgement reaches the board after the station's call has returned.
inline void await_exchanges(const board::SimBoard& board, int n) {
  ASSERT_TRUE(board.wait_until([n](const board::SimBoard& b) { return b.stats().exchanges >= n; },
                               std::chrono::seconds(10)))
      << "the board completed " << board.stats().exchanges << " exchanges, not " << n;
}

// A peer scripted by the test: `on_frame` sees every frame that reaches the board's end (on the
// peer's thread) and answers with send().
class ScriptedPeer {
 public:
  using Handler = std::function<void(ScriptedPeer&, std::uint16_t ether_type,
                                     const std::uint8_t* payload, std::size_t length)>;
  ScriptedPeer(link::FrameDevice& device, Handler on_frame)
      : device_(device), on_frame_(std::move(on_frame)), thread_([this] { loop(); }) {}
  ~ScriptedPeer() {
    stop_ = true;
    thread_.join();
  }
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  // Sends one frame with this payload (no padding: the test decides the length).
  void send(std::uint16_t ether_type, const std::uint8_t* payload, std::size_t length) {
    std::vector<std::uint8_t> frame(link::kEthernetHeader + length);
    std::memset(frame.data(), 0xff, 6);
    std::memcpy(frame.data() + 6, kBoardMac.data(), 6);
    frame[12] = static_cast<std::uint8_t>(ether_type >> 8);
    frame[13] = static_cast<std::uint8_t>(ether_type & 0xff);
    if (length > 0) std::memcpy(frame.data() + link::kEthernetHeader, payload, length);
    device_.send(frame.data(), frame.size());
  }
  void send_data(const std::uint8_t* payload, std::size_t length) {
    send(link::kEtherTargetData, payload, length);
  }

 private:
  void loop() {
    while (!stop_) {
      const std::uint8_t* frame = nullptr;
      int length = device_.receive(&frame, link::kReadTimeout);
      if (length < static_cast<int>(link::kEthernetHeader)) continue;
      on_frame_(*this, link::ether_type(frame), frame + link::kEthernetHeader,
                static_cast<std::size_t>(length) - link::kEthernetHeader);
    }
  }
  link::FrameDevice& device_;
  Handler on_frame_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A compact picture of the frames the station sent and took, for comparing sequences:
// "H80" a host data frame with an 80-byte payload, "ACK" the station's Acknowledgement Frame,
// "T1408" a target data frame taken, "x" a frame of another EtherType taken.
inline std::vector<std::string> sequence(const std::vector<WireEvent>& events) {
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

inline std::vector<std::uint8_t> pattern(std::size_t n, unsigned seed = 1) {
  std::vector<std::uint8_t> bytes(n);
  std::uint32_t x = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    bytes[i] = static_cast<std::uint8_t>(x >> 16);
  }
  return bytes;
}

}  // namespace skav::test

#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "core/link/frame_device.h"
#include "core/link/mac.h"

namespace skav::board {

struct BoardOptions {
  link::Mac mac{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
};

// The target board's side of the protocol, on any frame link: answers Discovery Probes with a
// 0x8022 reply from its own MAC address and pads every frame it sends to the Ethernet minimum
// of 60 bytes, as hardware does.
class SimBoard {
 public:
  SimBoard(link::FrameDevice& device, BoardOptions options);

  // Serves frames until `stop` is set (checked at least every 20 ms).
  void run(const std::atomic<bool>& stop);
  // Serves at most one frame, waiting at most `timeout`. False when nothing arrived.
  bool serve_one(std::chrono::milliseconds timeout);

  const link::Mac& mac() const { return options_.mac; }
  int probes_answered() const { return probes_answered_; }

 private:
  void send_frame(std::uint16_t ether_type, const std::uint8_t* payload, std::size_t length);

  link::FrameDevice& device_;
  BoardOptions options_;
  int probes_answered_ = 0;
  std::uint8_t tx_[link::kMaxFrame] = {};
};

}  // namespace skav::board

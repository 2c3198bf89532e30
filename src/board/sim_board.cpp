#include "board/sim_board.h"

#include <algorithm>
#include <cstring>

namespace skav::board {

SimBoard::SimBoard(link::FrameDevice& device, BoardOptions options)
    : device_(device), options_(options) {}

void SimBoard::run(const std::atomic<bool>& stop) {
  while (!stop.load(std::memory_order_relaxed)) serve_one(link::kReadTimeout);
}

bool SimBoard::serve_one(std::chrono::milliseconds timeout) {
  const std::uint8_t* frame = nullptr;
  int length = device_.receive(&frame, timeout);
  if (length < static_cast<int>(link::kEthernetHeader)) return length > 0;
  if (link::ether_type(frame) == link::kEtherProbe) {
    send_frame(link::kEtherReply, nullptr, 0);
    ++probes_answered_;
  }
  return true;
}

void SimBoard::send_frame(std::uint16_t ether_type, const std::uint8_t* payload,
                          std::size_t length) {
  length = std::min(length, link::kMaxPayload);
  std::memset(tx_, 0xff, 6);
  std::memcpy(tx_ + 6, options_.mac.data(), 6);
  tx_[12] = static_cast<std::uint8_t>(ether_type >> 8);
  tx_[13] = static_cast<std::uint8_t>(ether_type & 0xff);
  if (length > 0) std::memcpy(tx_ + link::kEthernetHeader, payload, length);
  std::size_t total = link::kEthernetHeader + length;
  if (total < link::kMinFrame) {
    std::memset(tx_ + total, 0, link::kMinFrame - total);
    total = link::kMinFrame;
  }
  device_.send(tx_, total);
}

}  // namespace skav::board

#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "core/link/frame_device.h"
#include "core/link/mac.h"

namespace skav::link::test {

using Bytes = std::vector<std::uint8_t>;

inline constexpr Mac kHostMac = {0x02, 0x53, 0x4b, 0x41, 0x56, 0x10};
inline constexpr Mac kBoardMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x09};
inline constexpr Mac kOtherMac = {0x02, 0x77, 0x66, 0x55, 0x44, 0x33};

// An Ethernet frame: destination, source, EtherType (big-endian), then the payload.
inline Bytes make_frame(const Mac& destination, const Mac& source, std::uint16_t ether_type,
                        const Bytes& payload = {}) {
  Bytes frame(destination.begin(), destination.end());
  frame.insert(frame.end(), source.begin(), source.end());
  frame.push_back(static_cast<std::uint8_t>(ether_type >> 8));
  frame.push_back(static_cast<std::uint8_t>(ether_type & 0xff));
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

// Payload bytes 0, 1, 2, ... (mod 256) offset by `seed`, so that cuts and shifts show.
inline Bytes pattern(std::size_t length, std::uint8_t seed = 0) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i);
  return bytes;
}

// The board's side of the cable, driven by the test.
class BoardScript {
 public:
  explicit BoardScript(FrameDevice& end) : end_(end) {}
  void send(const Bytes& frame) { end_.send(frame.data(), frame.size()); }
  // The next frame the station sent, or an empty vector when none is waiting. Sends on the
  // in-process wire are complete when they return, so no waiting is needed.
  Bytes take() {
    const std::uint8_t* frame = nullptr;
    int length = end_.receive(&frame, std::chrono::milliseconds(0));
    if (length <= 0) return {};
    return Bytes(frame, frame + length);
  }

 private:
  FrameDevice& end_;
};

}  // namespace skav::link::test

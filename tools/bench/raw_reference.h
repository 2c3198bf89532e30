#pragma once

#include <cstdint>
#include <string>

namespace skav::bench {

// A minimal raw-socket mover of blocks, written only as the yardstick for the station: frames
// of 1408 payload bytes, an acknowledgement after every 16th frame and after the last, straight
// AF_PACKET sockets (one send or receive call per frame), no station code.
class RawEndpoint {
 public:
  RawEndpoint() = default;
  ~RawEndpoint();
  RawEndpoint(const RawEndpoint&) = delete;
  RawEndpoint& operator=(const RawEndpoint&) = delete;

  // Opens `interface`, receiving frames of `receive_type` and sending frames of `send_type`.
  // Empty on success, else why not.
  std::string open(const std::string& interface, std::uint16_t receive_type,
                   std::uint16_t send_type);
  // Sends n bytes in windows of 16 frames, each window answered by one frame from the peer.
  // False when a send failed or the peer stayed silent for a second.
  bool send_block(const std::uint8_t* data, std::uint32_t n);
  // Receives n bytes, answering every 16th frame and the last with a 64-byte frame.
  bool receive_block(std::uint8_t* data, std::uint32_t n);
  // Sends one 64-byte frame (a go-ahead) / waits for one frame of any length.
  bool send_signal();
  bool await_signal();

 private:
  bool send_frame(const std::uint8_t* payload, std::uint32_t length);
  // Receives one frame's payload into `payload` (at most `capacity` bytes); -1 on silence.
  long receive_frame(std::uint8_t* payload, std::uint32_t capacity);

  int fd_ = -1;
  std::uint8_t header_[14] = {};
};

}  // namespace skav::bench

#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "core/link/link.h"

namespace skav::transfer {

inline constexpr std::uint32_t kChunkSize = 1408;
inline constexpr std::uint32_t kAckInterval = 16;
inline constexpr std::uint32_t kAckSize = 64;
inline constexpr std::chrono::seconds kDefaultTimeout{30};

// How a transfer ended. Anything but kOk leaves the board's side of the protocol in an
// unknown state: the caller skips the rest of its walk. kTimeout: the board was silent for the
// channel's timeout; kStopped: the stop flag was set; kAdapterLost: the adapter itself failed.
enum class Outcome { kOk, kTimeout, kStopped, kAdapterLost };

// Told how far a block has come: once as it starts (done 0), then at most once per
// acknowledgement window, never per frame.
class ProgressObserver {
 public:
  virtual ~ProgressObserver() = default;
  virtual void on_progress(std::uint64_t done, std::uint64_t total) = 0;
};

// The station's side of the transfer protocol over one link. `timeout` bounds every wait for a
// frame from the board (a silence that long, on the link's clock, fails the transfer); `stop`,
// when set, ends a transfer at its next poll.
struct Channel {
  link::Link& link;
  std::chrono::milliseconds timeout = kDefaultTimeout;
  const std::atomic<bool>* stop = nullptr;
  ProgressObserver* progress = nullptr;

  bool stopping() const { return stop != nullptr && stop->load(std::memory_order_relaxed); }
};

// Sends n bytes as frames of 1408 bytes (the last shorter) and awaits the board's
// acknowledgement after every 16th frame and after the last. n = 0 sends nothing.
Outcome block_send(Channel& channel, const std::uint8_t* data, std::uint32_t n);

// Receives n bytes as frames of 1408 bytes, counting frames (not bytes), and sends the
// 64-byte Acknowledgement Frame after every 16th frame and after the last. n = 0 receives
// nothing. `data` must hold n bytes.
Outcome block_receive(Channel& channel, std::uint8_t* data, std::uint32_t n);

// Block Receive of n bytes that compares them with `expected` (n bytes) as they arrive instead
// of storing them, so that no n-byte buffer is needed; frames and acknowledgements as in
// block_receive. `equal` ends false when a byte differs or a frame was shorter than its chunk.
Outcome block_receive_compare(Channel& channel, const std::uint8_t* expected, std::uint32_t n,
                              bool& equal);

// The Acknowledgement Frame payload: "ZZQ7" and 60 zero bytes.
extern const std::uint8_t kAckFrame[kAckSize];

}  // namespace skav::transfer

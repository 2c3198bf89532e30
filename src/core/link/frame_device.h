#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/link/mac.h"

namespace skav::link {

inline constexpr std::size_t kEthernetHeader = 14;
inline constexpr std::size_t kMaxPayload = 1500;
inline constexpr std::size_t kMaxFrame = kEthernetHeader + kMaxPayload;  // 1514
inline constexpr std::size_t kMinFrame = 60;  // Ethernet minimum without check sequence

// Station EtherTypes.
inline constexpr std::uint16_t kEtherProbe = 0x8011;     // Discovery Probe, host to target
inline constexpr std::uint16_t kEtherReply = 0x8022;     // Discovery Reply, target to host
inline constexpr std::uint16_t kEtherHostData = 0x8077;  // data frame, host to target
inline constexpr std::uint16_t kEtherTargetData = 0x8088;  // data frame, target to host

// The read time-out of an opened adapter: one receive waits at most this long.
inline constexpr std::chrono::milliseconds kReadTimeout{20};

inline std::uint16_t ether_type(const std::uint8_t* frame) {
  return static_cast<std::uint16_t>(frame[12] << 8 | frame[13]);
}

inline constexpr Mac kBroadcast = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};

// Writes the 14-byte Ethernet header at the start of `frame`.
inline void write_header(std::uint8_t* frame, const Mac& destination, const Mac& source,
                         std::uint16_t type) {
  std::memcpy(frame, destination.data(), 6);
  std::memcpy(frame + 6, source.data(), 6);
  frame[12] = static_cast<std::uint8_t>(type >> 8);
  frame[13] = static_cast<std::uint8_t>(type & 0xff);
}

// One opened adapter: sends and receives whole Ethernet frames (header included, no
// preamble or check sequence). The platform service behind the link.
class FrameDevice {
 public:
  virtual ~FrameDevice() = default;
  // Sends one frame. 0 sent; -1 refused.
  virtual int send(const std::uint8_t* frame, std::size_t length) = 0;
  // Waits at most `timeout` for the next frame. Returns its length and points *frame at its
  // bytes, which stay valid until the next receive on this device; 0 when nothing arrived;
  // -1 when the device itself failed (the adapter went down or away), after the time-out all
  // the same, so that a caller that polls does not spin.
  virtual int receive(const std::uint8_t** frame, std::chrono::milliseconds timeout) = 0;
  // Sends `count` frames, each the 14-byte `header` followed by payloads[i] (lengths[i] bytes),
  // in order; a refused frame does not keep the next ones back. Returns how many were sent.
  // This default sends them one by one.
  virtual std::size_t send_frames(const std::uint8_t* header, const std::uint8_t* const* payloads,
                                  const std::size_t* lengths, std::size_t count);
  // Sleeps until a frame is waiting or `length` has passed, whichever comes first; takes no
  // frame. This default returns at once: a receive waits anyway.
  virtual void wait_readable(std::chrono::nanoseconds length) { (void)length; }
  // Sleeps until `count` frames are waiting or `length` has passed, whichever comes first,
  // without waking for each frame as it arrives; takes no frame. A device that can only tell
  // whether any frame is waiting sleeps the whole length when `count` is over 1. This default
  // waits as wait_readable for one frame and returns at once for more: receives wait anyway.
  virtual void wait_frames(std::size_t count, std::chrono::nanoseconds length) {
    if (count <= 1) wait_readable(length);
  }
  // Whether the adapter this device was opened on is still the system's adapter of that name:
  // false once it was removed, and still false when one of the same name was made since (the
  // device stays bound to the old one). One system call or so: cheap enough for once a second.
  // A device that cannot tell says true; its failing sends and receives tell all the same.
  virtual bool still_present() const { return true; }
  // When the platform stamped the frame last received (system clock), if it does.
  virtual std::optional<std::chrono::system_clock::time_point> last_receive_stamp() const {
    return std::nullopt;
  }
  // How long ago the frame last received arrived, by the platform's stamp; none without one.
  // This default reads the stamp against the system clock.
  virtual std::optional<std::chrono::nanoseconds> last_receive_age() const {
    std::optional<std::chrono::system_clock::time_point> stamp = last_receive_stamp();
    if (!stamp) return std::nullopt;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now() -
                                                                *stamp);
  }
};

inline std::size_t FrameDevice::send_frames(const std::uint8_t* header,
                                           const std::uint8_t* const* payloads,
                                           const std::size_t* lengths, std::size_t count) {
  std::uint8_t frame[kMaxFrame];
  std::size_t sent = 0;
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t length = lengths[i] < kMaxPayload ? lengths[i] : kMaxPayload;
    std::memcpy(frame, header, kEthernetHeader);
    if (length > 0) std::memcpy(frame + kEthernetHeader, payloads[i], length);
    if (send(frame, kEthernetHeader + length) == 0) ++sent;
  }
  return sent;
}

struct AdapterInfo {
  std::string name;         // the system's name, used to open it
  std::string description;  // empty when the system gives none
  // The name the system shows the operator (UTF-8): Windows' connection name ("Ethernet 2"),
  // on Linux the interface's alias or its name. Empty when the system gives none.
  std::string friendly_name{};
};

struct AdapterListing {
  bool ok = true;
  std::string error;               // the platform's error text when !ok
  bool permission_denied = false;  // !ok because the process lacks the privileges
  std::vector<AdapterInfo> adapters;
};

struct OpenResult {
  std::unique_ptr<FrameDevice> device;  // null when the adapter could not be opened
  std::string error;                    // why, for the operator
  bool permission_denied = false;       // not opened because the process lacks the privileges
};

// The platform's adapter access (libpcap, or the in-process link).
class FrameBackend {
 public:
  virtual ~FrameBackend() = default;
  // The host's adapters in the platform's order; !ok with the platform's error text on failure.
  virtual AdapterListing list_adapters() = 0;
  // The adapter's current hardware address, read by the platform's own means.
  virtual std::optional<Mac> adapter_mac(const std::string& name) = 0;
  // Opens the adapter with that system name for raw Ethernet frames; a null device and the
  // reason when it cannot.
  virtual OpenResult open(const std::string& name) = 0;
};

}  // namespace skav::link

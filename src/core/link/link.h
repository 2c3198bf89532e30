#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/link/frame_device.h"
#include "core/link/mac.h"
#include "core/log.h"

namespace skav::link {

// The operator's view of the host's adapters: entry k describes adapter number k+1.
struct AdapterList {
  int count = 0;
  std::vector<std::string> entries;  // the list texts (description, else the system name)
  std::vector<std::string> names;    // the system names, same order

  // The number (from 1) of the adapter with that system name; 0 when there is none.
  int number_of(std::string_view name) const {
    for (std::size_t i = 0; i < names.size(); ++i)
      if (names[i] == name) return static_cast<int>(i) + 1;
    return 0;
  }
};

// The Link State and its operations: raw access to one adapter. Used by one thread at a time
// (the station's thread while searching, the run's worker while connected).
class Link {
 public:
  explicit Link(FrameBackend& backend);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Lists the adapters into `list` (count 0 first); the list grows past 16 entries. On failure
  // logs "Error in pcap_findalldevs: %s\r\n" (and a hint when privileges are missing) and
  // leaves the list empty.
  void enumerate_adapters(Log* log, AdapterList& list);
  // Opens adapter number n (1-based). 1 opened; 0 failed, a message was logged (for an adapter
  // that cannot be opened, also the platform's reason and, when privileges are missing, a
  // hint). A device already open is closed first.
  int open_adapter(Log* log, int n);
  // 0 sent; -1 refused (or no adapter open); -2 payload over 1500 bytes, nothing sent.
  int send_data_frame(const std::uint8_t* payload, std::uint32_t length);
  // Sends `length` bytes of `data` as consecutive data frames of `chunk` payload bytes (the last
  // one shorter), at most 64 frames, in as few system calls as the platform allows. 0 all sent;
  // -1 a frame was refused (the others were still sent) or no adapter is open; -2 chunk over
  // 1500 bytes (or 0) or more than 64 frames, nothing sent.
  int send_data_frames(const std::uint8_t* data, std::uint32_t length, std::uint32_t chunk);
  // Waits at most the 20 ms read time-out for one frame (with no adapter open, waits it and
  // returns 0). Payload length (> 0) copied; 0 nothing received; -2 a frame of another
  // EtherType (or shorter than a header) was taken and dropped; -3 the payload exceeded
  // `capacity` and its first `capacity` bytes were copied.
  int receive_data_frame(std::uint8_t* buffer, std::uint32_t capacity);
  // Sleeps until a frame is waiting or `until` has passed; takes nothing. Returns at once with
  // no adapter open.
  void wait_for_frame(std::chrono::steady_clock::time_point until);
  // Releases the device list and the opened adapter.
  void close_link();

  bool is_open() const { return device_ != nullptr; }
  // True after an enumeration that succeeded, until Close Link or a failed open.
  bool is_listed() const { return listed_; }
  int adapter_count() const { return adapter_count_; }
  const Mac& host_mac() const { return host_mac_; }
  const Mac& target_mac() const { return target_mac_; }
  void set_target_mac(const Mac& mac) { target_mac_ = mac; }
  // The opened adapter's system name; empty when none is open.
  const std::string& open_name() const { return open_name_; }

  // For discovery: the single transmit frame and the opened device.
  std::uint8_t* transmit_frame() { return transmit_.data(); }
  FrameDevice* device() { return device_.get(); }

 private:
  FrameBackend& backend_;
  std::vector<AdapterInfo> device_list_;
  bool listed_ = false;
  int adapter_count_ = 0;
  std::unique_ptr<FrameDevice> device_;
  std::string open_name_;
  Mac host_mac_{};
  Mac target_mac_{};
  std::array<std::uint8_t, kMaxFrame> transmit_{};
};

}  // namespace skav::link

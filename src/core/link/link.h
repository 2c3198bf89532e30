#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/clock.h"
#include "core/link/frame_device.h"
#include "core/link/mac.h"
#include "core/log.h"

namespace skav::link {

// The operator's view of the host's adapters: entry k describes adapter number k+1.
struct AdapterList {
  int count = 0;
  std::vector<std::string> entries;  // the list texts (description, else the system name)
  std::vector<std::string> names;    // the system names, same order
  // The names the system shows the operator (AdapterInfo::friendly_name), same order.
  std::vector<std::string> friendly_names;
  bool operator==(const AdapterList&) const = default;

  // The number (from 1) of the adapter with that system name; 0 when there is none.
  int number_of(std::string_view name) const {
    for (std::size_t i = 0; i < names.size(); ++i)
      if (names[i] == name) return static_cast<int>(i) + 1;
    return 0;
  }
};

// The Link State and its operations: raw access to one adapter, and the only way to the wire.
// One thread at a time uses a Link: the station's while it searches, a run's worker while the
// run holds it. Every wait is read from and paused on the clock it was given.
class Link {
 public:
  explicit Link(FrameBackend& backend, Clock& clock = steady_clock());
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
  // one shorter), at most 64 frames, in as few system calls as the platform allows. Leaves the
  // Transmit Frame as sending them one by one would. 0 all sent; -1 a frame was refused (the
  // others were still sent) or no adapter is open; -2 chunk over 1500 bytes (or 0) or more than
  // 64 frames, nothing sent.
  int send_data_frames(const std::uint8_t* data, std::uint32_t length, std::uint32_t chunk);
  // Waits at most the 20 ms read time-out for one frame (with no adapter open, or one that
  // failed, pauses that long and returns 0). Payload length (> 0) copied; 0 nothing received;
  // -2 a frame of another EtherType (or shorter than a header) was taken and dropped; -3 the
  // payload exceeded `capacity` and its first `capacity` bytes were copied.
  int receive_data_frame(std::uint8_t* buffer, std::uint32_t capacity);
  // Sleeps until a frame is waiting or `length` has passed; takes nothing. Returns at once with
  // no adapter open.
  void wait_for_frame(std::chrono::nanoseconds length);
  // Sleeps until `count` frames are waiting or the clock reaches `until`, whichever comes first,
  // without waking for each frame (see FrameDevice::wait_frames); takes nothing. A wake-up comes
  // late by some microseconds, more on a virtual machine: the link asks for it earlier by the
  // lateness of its recent wake-ups (a low quantile, so that it is seldom early), so that it
  // comes about at `until`. Returns at once when `until` has passed or no adapter is open.
  void wait_frames(std::uint32_t count, Clock::time_point until);
  // When the frame last received arrived, on this link's clock, by the platform's receive
  // stamp; none when the platform gives none.
  std::optional<Clock::time_point> last_arrival() const;
  // How much earlier than asked wait_frames now asks the device to wake it.
  Clock::duration wake_lead() const { return wake_lead_; }

  // The Discovery Probe: the 60-byte broadcast of EtherType 0x8011 built in the Transmit Frame,
  // whose 46 payload bytes stay as the last data frame left them. 0 sent; -1 refused or no
  // adapter open.
  int send_probe();
  // Takes one frame, waiting at most the read time-out: 1 it was a Discovery Reply and its
  // source became the Target MAC; 0 nothing came, or another frame was taken and dropped.
  int receive_reply();
  // Drops up to `most` frames that are already waiting, without waiting for more. Returns how
  // many were dropped.
  int drain(int most);

  // Releases the device list and the opened adapter.
  void close_link();

  bool is_open() const { return device_ != nullptr; }
  // True once the opened adapter failed (it went down or away) until it is opened again.
  bool adapter_lost() const { return lost_; }
  // Asks whether the opened adapter is still there (FrameDevice::still_present, cheap); one that
  // is not counts as lost from now on. True while an adapter is open and not lost.
  bool check_adapter();
  // True after an enumeration that succeeded, until Close Link or a failed open.
  bool is_listed() const { return listed_; }
  int adapter_count() const { return adapter_count_; }
  const Mac& host_mac() const { return host_mac_; }
  const Mac& target_mac() const { return target_mac_; }
  void set_target_mac(const Mac& mac) { target_mac_ = mac; }
  // The opened adapter's system name; kept after the adapter failed, empty when none is open.
  const std::string& open_name() const { return open_name_; }
  // The opened adapter's friendly name (AdapterInfo::friendly_name), kept like open_name().
  const std::string& open_friendly_name() const { return open_friendly_name_; }
  // Why the last Open Adapter failed (the range message or the platform's reason).
  const std::string& open_error() const { return open_error_; }
  Clock& clock() const { return clock_; }
  // The Transmit Frame as it stands (what the next probe carries after its header).
  const std::uint8_t* transmit_frame() const { return transmit_.data(); }

 private:
  // One receive on the device: its length, or 0 (nothing, or the device failed: then lost_).
  int receive(const std::uint8_t** frame);
  void note_lateness(Clock::duration late);

  FrameBackend& backend_;
  Clock& clock_;
  std::vector<AdapterInfo> device_list_;
  bool listed_ = false;
  int adapter_count_ = 0;
  std::unique_ptr<FrameDevice> device_;
  bool lost_ = false;
  std::string open_name_;
  std::string open_error_;
  std::string open_friendly_name_;
  std::string list_error_;  // the platform's reason the last listing failed, or empty
  Mac host_mac_{};
  Mac target_mac_{};
  std::array<std::uint8_t, kMaxFrame> transmit_{};
  // How late the last wake-ups of wait_frames came, oldest overwritten first.
  static constexpr std::size_t kLatenessSamples = 16;
  std::array<Clock::duration, kLatenessSamples> lateness_{};
  std::size_t lateness_count_ = 0;
  Clock::duration wake_lead_{};
};

}  // namespace skav::link

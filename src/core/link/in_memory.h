#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/link/frame_device.h"

namespace skav::link {

// A bounded queue of frames in one direction. Frames are copied into preallocated slots, so
// nothing is allocated per frame. A frame sent while the queue is full is dropped, as a
// congested wire would.
class FrameQueue {
 public:
  explicit FrameQueue(std::size_t slots = 512);
  using Clock = std::chrono::steady_clock;

  void push(const std::uint8_t* frame, std::size_t length);
  // Copies the oldest frame into `out` (kMaxFrame bytes); 0 when none came within `timeout`.
  // `arrived`, when given, receives the moment the frame was pushed.
  int pop(std::uint8_t* out, std::chrono::milliseconds timeout,
          Clock::time_point* arrived = nullptr);
  // Sleeps until `count` frames are queued or `length` has passed, whichever comes first;
  // takes nothing. The frames pushed before the count-th do not wake the waiting thread.
  void wait_for(std::size_t count, std::chrono::nanoseconds length);
  // How many pops and waits have slept (found too few frames and waited for more).
  std::uint64_t sleeps() const;
  std::size_t size() const;
  void clear();

 private:
  struct Slot {
    std::uint16_t length = 0;
    Clock::time_point arrived{};
    std::array<std::uint8_t, kMaxFrame> bytes;
  };
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<Slot> slots_;
  std::size_t head_ = 0;
  std::size_t count_ = 0;
  std::size_t wanted_ = 1;  // frames the waiting thread needs before it is woken
  std::uint64_t sleeps_ = 0;
};

// An in-process Ethernet cable with two ends. Whatever one end sends, the other receives.
class InMemoryWire {
 public:
  InMemoryWire();
  ~InMemoryWire();
  InMemoryWire(const InMemoryWire&) = delete;
  InMemoryWire& operator=(const InMemoryWire&) = delete;
  // The two ends; each is a FrameDevice. Owned by the wire.
  FrameDevice& station_end();
  FrameDevice& board_end();
  FrameQueue& to_board() { return to_board_; }
  FrameQueue& to_station() { return to_station_; }

 private:
  class End;
  FrameQueue to_board_;
  FrameQueue to_station_;
  std::unique_ptr<End> station_;
  std::unique_ptr<End> board_;
};

// A backend with one adapter whose cable is an InMemoryWire (or any device standing for the
// station's end of a cable): the station opens that end.
class InMemoryBackend : public FrameBackend {
 public:
  static constexpr const char* kAdapterName = "sim0";
  static constexpr const char* kAdapterDescription = "Simulated board link";
  static constexpr Mac kHostMac = {0x02, 0x53, 0x4b, 0x41, 0x56, 0x00};

  explicit InMemoryBackend(InMemoryWire& wire, Mac host_mac = kHostMac);
  explicit InMemoryBackend(FrameDevice& station_end, Mac host_mac = kHostMac);
  ~InMemoryBackend() override;
  AdapterListing list_adapters() override;
  std::optional<Mac> adapter_mac(const std::string& name) override;
  OpenResult open(const std::string& name) override;

  // Test switches: make listing or opening fail with the given reason (an empty listing error
  // lets listing succeed again); `permission_denied` marks the failure as a missing privilege.
  void fail_listing(std::string error, bool permission_denied = false) {
    listing_error_ = std::move(error);
    listing_permission_denied_ = permission_denied;
  }
  void fail_open(bool fail, std::string error = "no such simulated adapter",
                 bool permission_denied = false) {
    fail_open_ = fail;
    open_error_ = std::move(error);
    open_permission_denied_ = permission_denied;
  }
  // Adds further adapters that exist but lead nowhere.
  void add_adapter(AdapterInfo adapter) { extra_.push_back(std::move(adapter)); }
  // The adapter goes away (false: it is no longer listed, cannot be opened, and a device opened
  // before fails) or comes back. A device opened before it went away stays dead when it is
  // back, as a handle on a removed adapter made again under the same name does.
  void set_present(bool present);
  // The adapter goes away without a device opened before failing, as a removed Linux interface
  // may: that device hears nothing from now on, its sends are refused (`sends_refused`) or go
  // nowhere, and only its still_present() and the adapter list tell that it is gone.
  // set_present(true) brings the adapter back.
  void vanish_quietly(bool sends_refused);

 private:
  struct Presence;  // whether the adapter is there, and how it went: shared with its devices
  class Device;

  FrameDevice& end_;
  std::shared_ptr<Presence> presence_;
  Mac host_mac_;
  std::string listing_error_;
  bool listing_permission_denied_ = false;
  bool fail_open_ = false;
  std::string open_error_;
  bool open_permission_denied_ = false;
  std::vector<AdapterInfo> extra_;
};

}  // namespace skav::link

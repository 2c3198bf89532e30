#pragma once

#include <sys/socket.h>
#include <time.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/link/frame_device.h"

namespace skav::bench {

// The simulated board's end of a veth pair in the bench: a plain AF_PACKET socket, not a
// capture ring. On a veth pair the kernel delivers a frame into the far end's socket on the
// sending thread, so the far end's receive path is charged to whoever sends: into a capture
// ring (a copy and the ring's bookkeeping per frame) it costs the station 7-9 us of CPU more
// per window of 16 frames than into a plain socket, which only queues the frame for the
// board to copy out. A board on a real wire charges the station nothing for receiving; the
// raw reference's far end is a plain socket too. Not for the station's own end: the station
// uses libpcap, as on a line.
class PacketSocketDevice : public link::FrameDevice {
 public:
  // Opens `interface` for frames of the two EtherTypes (a kernel filter drops all others, and
  // the frames this end sends are not looped back to it); a null device and why on failure.
  static link::OpenResult open(const std::string& interface, std::uint16_t first,
                               std::uint16_t second);
  ~PacketSocketDevice() override;
  PacketSocketDevice(const PacketSocketDevice&) = delete;
  PacketSocketDevice& operator=(const PacketSocketDevice&) = delete;

  int send(const std::uint8_t* frame, std::size_t length) override;
  // A window in one system call (sendmmsg), each frame gathered from header and payload.
  std::size_t send_frames(const std::uint8_t* header, const std::uint8_t* const* payloads,
                          const std::size_t* lengths, std::size_t count) override;
  // Takes the next queued frame, else waits on the socket; a frame's bytes stay valid until
  // the next receive. Frames are fetched up to a window at a time (recvmmsg). -1, after the
  // time-out, when the socket failed.
  int receive(const std::uint8_t** frame, std::chrono::milliseconds timeout) override;
  void wait_readable(std::chrono::nanoseconds length) override;
  // A socket tells only whether a frame is waiting: for more than one this is a timer.
  void wait_frames(std::size_t count, std::chrono::nanoseconds length) override;
  // The kernel's receive stamp of the last frame taken (SO_TIMESTAMPNS).
  std::optional<std::chrono::system_clock::time_point> last_receive_stamp() const override;

 private:
  static constexpr std::size_t kBatch = 16;  // frames fetched in one call: a window

  explicit PacketSocketDevice(int fd) : fd_(fd) {}
  // The next frame's length (fetched now or before), 0 when none is queued, -1 when the
  // socket failed.
  int take(const std::uint8_t** frame);
  // ppoll for `length`, or (`on_frame`) until a frame is waiting.
  void sleep(std::chrono::nanoseconds length, bool on_frame);

  int fd_;
  std::optional<std::chrono::system_clock::time_point> stamp_;
  // The last fetch: frames [next_, fetched_) are still to be taken.
  struct Fetched {
    std::uint8_t bytes[link::kMaxFrame];
    alignas(8) char control[64];  // the receive stamp
  };
  static_assert(sizeof(Fetched::control) >= CMSG_SPACE(sizeof(timespec)));
  Fetched fetched_frames_[kBatch] = {};
  mmsghdr messages_[kBatch] = {};
  iovec parts_[kBatch] = {};
  std::size_t next_ = 0;
  std::size_t fetched_ = 0;
};

// The simulated board's end: the EtherTypes a board takes (Discovery Probes, host data frames).
inline link::OpenResult open_board_end(const std::string& interface) {
  return PacketSocketDevice::open(interface, link::kEtherProbe, link::kEtherHostData);
}

}  // namespace skav::bench

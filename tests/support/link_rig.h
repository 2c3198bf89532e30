#pragma once

// Below the station: a Link of the test's own on the direct cable of rig.h, opened through a
// recorder that notes every frame the station sends and takes in the order its thread sees
// them. The far end is a simulated board, a line of them, or a script of the test's; all of it
// runs on the test's thread, and a silence costs no time (the cable's clock moves on instead).

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/board_line.h"
#include "sim/sim_board.h"
#include "core/clock.h"
#include "core/link/in_memory.h"
#include "core/link/link.h"
#include "core/transfer/block_transfer.h"
#include "support/rig.h"

namespace skav::test {

using Bytes = std::vector<std::uint8_t>;

inline constexpr link::Mac kHostMac = link::InMemoryBackend::kHostMac;
inline constexpr link::Mac kBoardMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};  // a SimBoard's own
// Addresses that no default gives, for tests that show where an address comes from: an
// adapter's, a board's, and a third party's.
inline constexpr link::Mac kAdapterMac = {0x02, 0x53, 0x4b, 0x41, 0x56, 0x10};
inline constexpr link::Mac kTargetMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x09};
inline constexpr link::Mac kOtherMac = {0x02, 0x77, 0x66, 0x55, 0x44, 0x33};

// One frame as the station's side saw it.
struct WireEvent {
  bool sent = false;  // by the station; else taken by the station
  std::uint16_t ether_type = 0;
  Bytes frame;
  std::size_t payload_length() const { return frame.size() - link::kEthernetHeader; }
  const std::uint8_t* payload() const { return frame.data() + link::kEthernetHeader; }
  Bytes payload_bytes() const { return Bytes(payload(), payload() + payload_length()); }
};

// An Ethernet frame: destination, source, EtherType (big-endian), then the payload, unpadded.
Bytes make_frame(const link::Mac& destination, const link::Mac& source, std::uint16_t ether_type,
                 const Bytes& payload = {});

// n bytes that differ from one position to the next and from one seed to another, so that a
// cut, a shift or a chunk in the wrong place shows.
Bytes pattern(std::size_t n, unsigned seed = 1);

// A compact picture of the frames the station sent and took, for comparing sequences: "H80" a
// host data frame with an 80-byte payload, "ACK" the station's Acknowledgement Frame, "T1408" a
// target data frame taken, "S<type>" another frame sent (a probe is "S32785"), "x" a frame of
// another EtherType taken.
std::vector<std::string> sequence(const std::vector<WireEvent>& events);

// `data` cut into payloads of one chunk each (the last shorter), as a board sends a block.
std::vector<Bytes> chunks_of(const Bytes& data);

class LinkRig {
 public:
  struct Options {
    link::Mac host = kHostMac;
    // Lists the adapters, opens the only one and sets the Target MAC to kBoardMac.
    bool open = true;
  };
  LinkRig() : LinkRig(Options{}) {}
  explicit LinkRig(Options options);
  ~LinkRig();
  LinkRig(const LinkRig&) = delete;
  LinkRig& operator=(const LinkRig&) = delete;

  link::Link& link() { return link_; }
  // The station's adapter access: its failure switches and set_present().
  link::InMemoryBackend& backend() { return backend_; }
  ManualClock& clock() { return cable_.clock(); }
  transfer::Channel channel(std::chrono::milliseconds timeout = transfer::kDefaultTimeout) {
    return transfer::Channel{link_, timeout};
  }

  // What answers at the far end (each replaces the one before). Boards live as long as the rig.
  sim::SimBoard& plug(sim::BoardOptions options = {});
  sim::BoardLine& plug_line(const sim::BoardOptions& first, int count, bool keep_boards = true);
  // Sees every frame the station sends (its EtherType and payload) and may answer with send().
  using Script = std::function<void(std::uint16_t ether_type, const std::uint8_t* payload,
                                    std::size_t length)>;
  void script(Script script);
  void unplug();

  // Queues a frame for the station, as if from the board.
  void send(const Bytes& frame);
  // A frame from kBoardMac to the broadcast address with this EtherType and payload (unpadded).
  void send(std::uint16_t ether_type, const std::uint8_t* payload, std::size_t length);
  void send_data(const Bytes& payload) {
    send(link::kEtherTargetData, payload.data(), payload.size());
  }
  // A data frame that arrives `delay` from now on the clock.
  void send_data_after(const Bytes& payload, Clock::duration delay);

  // What the station's side saw; clear() forgets it, its waits and its wake-ups.
  std::vector<WireEvent> events() const;
  std::vector<WireEvent> sent() const;   // the station's frames only
  std::vector<WireEvent> taken() const;  // the frames it took only
  void clear();
  // The waits for frames (Link::wait_for_frame, Link::wait_frames) that reached the device:
  // when, on the clock, until when at the latest, and for how many frames.
  struct Wait {
    Clock::time_point asked;
    Clock::time_point until;
    std::size_t count = 1;
  };
  std::vector<Wait> waits() const;
  // How many calls on the device slept: receives and waits during which the clock moved on.
  int wake_ups() const;
  // Timed waits for frames wake this late (see DirectCable::set_wake_lateness).
  void set_wake_lateness(Clock::duration late) { cable_.set_wake_lateness(late); }

 private:
  class Recorder;
  DirectCable cable_;
  std::unique_ptr<Recorder> recorder_;
  link::InMemoryBackend backend_;
  link::Link link_;
  std::vector<std::unique_ptr<sim::SimBoard>> boards_;
  std::unique_ptr<sim::BoardLine> line_;
};

// Sends a block's frames to the station as a board does: a window of up to 16 at once, the next
// window whenever the station sends a frame (its acknowledgement). `before_each` runs before
// every frame (to slip other frames in between). With `delay`, frame i (from 0) of the block
// arrives that long after its window was sent, on the rig's clock; else at once.
class BlockFeeder {
 public:
  using Delay = std::function<Clock::duration(std::size_t frame)>;
  BlockFeeder(LinkRig& rig, std::vector<Bytes> frames, std::function<void()> before_each = {},
              Delay delay = {});
  bool done() const { return next_ == frames_.size(); }

 private:
  void send_window();
  LinkRig& rig_;
  std::vector<Bytes> frames_;
  std::function<void()> before_each_;
  Delay delay_;
  std::size_t next_ = 0;
};

}  // namespace skav::test

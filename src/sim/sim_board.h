#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sim/sparse_memory.h"
#include "core/link/frame_device.h"
#include "core/link/mac.h"
#include "core/transfer/command.h"

namespace skav::sim {

// Where a misbehaving board falls silent for good, to exercise the station's time-outs.
enum class SilentPhase {
  kNever,
  kAfterHeader,     // takes a Command Header and never acknowledges it
  kMidData,         // stops once half of a data phase's frames (rounded up) have travelled
  kBeforeStatus,    // completes the data phase but never sends the Status Frame
  kAfterDiagStart,  // starts the diagnostic image, which never answers a Discovery Probe
  kMidDiagText,     // sends the first diagnostic Text Block and nothing after it
};

// The acknowledgements the board sends while the station sends a block.
enum class AckStyle {
  kNormal,     // a 64-byte payload
  kPadded,     // a 4-byte payload that the Ethernet minimum pads to 46 bytes
  kOversized,  // a 200-byte payload, more than the station keeps
};

// Misbehaviour for tests. The defaults make a correct board. Counts are 1-based over the board's
// life; 0 switches a fault off; where noted, -1 means "every time".
struct BoardFaults {
  int fail_status = 0;        // the Nth Command Exchange's Status Frame reports failure; -1 all
  bool fail_writes = false;   // every write (Command Code 0) reports failure; the data is kept
  int corrupt_read = 0;       // the Nth read sends its region with one byte changed; -1 all
  AckStyle ack_style = AckStyle::kNormal;
  bool foreign_frames = false;  // a frame of `foreign_ether_type` goes out before every frame
  std::uint16_t foreign_ether_type = 0x0806;
  // Whatever the station does not examine is random: acknowledgements (of random length),
  // Discovery Replies, the Status Frame after its first four bytes, foreign frames.
  bool random_payloads = false;
  int silent_after_received = 0;     // handles N received frames, then never answers again
  int silent_after_sent = 0;         // sends N frames, then nothing
  int lose_sent_data_frame = 0;      // the Nth data frame of its read phases is not sent
  int lose_received_data_frame = 0;  // the Nth data frame it receives is ignored
  int duplicate_data_frame = 0;      // the Nth data frame of its read phases is sent twice
  int lose_ack = 0;                  // the Nth acknowledgement it owes is not sent
  SilentPhase silent_phase = SilentPhase::kNever;
  int silent_exchange = 0;  // the exchange where silent_phase applies; 0: the first it can
};

struct BoardOptions {
  link::Mac mac{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
  // The text a started diagnostic image prints; when empty, it prints its own bytes.
  std::string diag_text;
  // A board left waiting in the middle of an exchange this long gives it up and waits for the
  // next Command Header; a diagnostic relay left waiting this long ends (the board finishes).
  std::chrono::milliseconds stall_reset{5000};
  std::uint32_t seed = 1;  // for random payloads
  // A slow memory: the board waits this long before every Status Frame.
  std::chrono::milliseconds status_delay{0};
  BoardFaults faults;
};

// Counts over the board's life.
struct BoardStats {
  int probes_answered = 0;
  int headers = 0;      // Command Headers taken
  int exchanges = 0;    // Command Exchanges completed (Status Frame acknowledged)
  int writes = 0;       // completed exchanges by Command Code
  int reads = 0;
  int exes = 0;
  int frames_received = 0;
  int frames_sent = 0;  // protocol frames; foreign frames are not counted
  int text_blocks = 0;  // diagnostic Text Blocks sent, the end marker not included
  int malformed_acks = 0;  // station acknowledgements that were not 64 bytes starting "ZZQ7"
};

// The last block written into spi or lpc: the boot environment.
struct EnvironmentBlock {
  std::uint8_t memory_type = 0;
  std::uint32_t address = 0;
  std::vector<std::uint8_t> bytes;
};

// The largest data phase whose bytes the board stores (64 MiB); a longer write is received and
// dropped, and reports failure.
inline constexpr std::uint32_t kBoardCapacity = 64u << 20;

// The 18 bytes that end a diagnostic image's text: "QM7302-DIAG-END\r\n" and a zero byte.
inline constexpr std::array<std::uint8_t, 18> kDiagEndMarker = {
    'Q', 'M', '7', '3', '0', '2', '-', 'D', 'I', 'A', 'G', '-', 'E', 'N', 'D', '\r', '\n', 0};

inline constexpr std::uint32_t kFailureCode = 0x4c494146;  // "FAIL" on the wire

// The target board's side of the protocol, on any frame link:
// - answers Discovery Probes with a 0x8022 reply from its own MAC address; sends data frames of
//   EtherType 0x8088; pads every frame it sends to the Ethernet minimum of 60 bytes;
// - takes Command Exchanges: the 80-byte header (acknowledged), the data phase (write 0 and
//   exe 2 receive, read 1 sends, 1408-byte frames with an acknowledgement after every 16th and
//   the last), then the 64-byte Status Frame, which the station acknowledges;
// - keeps one memory per type (1 nand, 2 spi, 3 lpc, 4 mem) and uses the destination address
//   (`Mem_Dst_addr`) as the location for every command, so a read returns what a write to the
//   same destination stored, and 0xFF where nothing was written;
// - exe of type 4 starts the diagnostic image: it answers the next Discovery Probe, then sends
//   the image's bytes as Text Blocks (at most 255 bytes and a zero byte, one frame each, each
//   acknowledged) and then the end marker;
// - is finished once its end marker was acknowledged, or, without a diagnostic image, when a
//   Discovery Probe arrives after at least one completed exchange: it leaves that probe
//   unanswered (the station is looking for the next board).
// It allocates nothing per frame. One thread serves it; the accessors may be called from any.
class SimBoard {
 public:
  SimBoard(link::FrameDevice& device, BoardOptions options);

  // Serves frames until `stop` is set (checked at least every 20 ms).
  void run(const std::atomic<bool>& stop);
  // Serves at most one frame, waiting at most `timeout`. False when nothing arrived.
  bool serve_one(std::chrono::milliseconds timeout);
  // Takes one received frame (for a caller that does the receiving, such as BoardLine).
  void handle_frame(const std::uint8_t* frame, std::size_t length);
  // Called when a receive came back empty: gives up a stalled exchange.
  void on_idle();

  const link::Mac& mac() const { return options_.mac; }
  int probes_answered() const { return stats_.probes_answered.load(); }
  bool finished() const { return finished_.load(std::memory_order_acquire); }
  // The board finished because a Discovery Probe arrived, which it left unanswered.
  bool finished_on_probe() const { return finished_on_probe_.load(std::memory_order_acquire); }
  bool silent() const { return silent_.load(); }
  bool diag_ran() const { return diag_ran_.load(); }

  // Waits at most `timeout` until `condition` holds; it is checked after every frame the board
  // handles. True when it held. The condition may call the accessors below.
  bool wait_until(const std::function<bool(const SimBoard&)>& condition,
                  std::chrono::milliseconds timeout) const;

  BoardStats stats() const;
  std::optional<transfer::CommandHeader> last_header() const;
  // `length` bytes of memory `type` (1-4) from `address`; 0xFF where nothing was written.
  std::vector<std::uint8_t> memory(std::uint8_t type, std::uint64_t address,
                                   std::uint32_t length) const;
  std::optional<EnvironmentBlock> environment() const;
  // The image of the last exe of type 4.
  std::vector<std::uint8_t> diag_image() const;

 private:
  enum class State { kIdle, kReceiveData, kSendData, kAwaitStatusAck, kDiagAwaitProbe, kDiagText,
                     kFinished };
  struct Counters {
    std::atomic<int> probes_answered{0}, headers{0}, exchanges{0}, writes{0}, reads{0}, exes{0},
        frames_received{0}, frames_sent{0}, text_blocks{0}, malformed_acks{0};
  };

  void give_up_if_stalled(std::chrono::steady_clock::time_point now);
  void on_probe();
  void on_data(const std::uint8_t* payload, std::size_t length);
  void take_header(const std::uint8_t* payload, std::size_t length);
  void receive_chunk(const std::uint8_t* payload, std::size_t length);
  void on_ack(const std::uint8_t* payload, std::size_t length);
  void send_window();
  bool plain_window() const;
  // The next `chunk` bytes of the read region (0xFF for an unknown memory) into `out`.
  void read_chunk(std::uint8_t* out, std::uint32_t chunk);
  void send_plain_window();
  void end_data_phase();
  void complete_exchange();
  void send_text_block();
  void finish(bool on_probe);

  bool phase_silent(SilentPhase phase) const;
  bool status_ok() const;
  void go_silent() { silent_.store(true); }
  bool addressed_to_me(const std::uint8_t* frame) const;
  void notify();
  void send_reply();
  void send_ack();
  void send_status();
  // Sends the payload already built at payload_area(); pads to 60 bytes.
  void send_built(std::uint16_t ether_type, std::size_t length);
  void send_foreign();
  std::uint8_t* payload_area() { return tx_ + link::kEthernetHeader; }
  std::size_t random_fill(std::uint8_t* out, std::size_t min_length, std::size_t max_length);

  link::FrameDevice& device_;
  BoardOptions options_;
  State state_ = State::kIdle;

  // The exchange in progress.
  transfer::CommandHeader header_{};
  std::uint32_t pos_ = 0;
  std::uint32_t frames_ = 0;
  std::uint32_t total_frames_ = 0;
  bool storing_ = false;
  bool corrupting_ = false;
  bool silence_here_ = false;  // silent_phase applies to this exchange
  std::vector<std::uint8_t> rx_;  // reused for every write; grows, never shrinks

  // Fault counters.
  int sent_data_frames_ = 0;
  int received_data_frames_ = 0;
  int acks_owed_ = 0;
  int reads_started_ = 0;

  // The diagnostic relay.
  std::uint32_t text_pos_ = 0;
  bool marker_sent_ = false;
  const std::vector<std::uint8_t>* text_source_ = nullptr;
  std::vector<std::uint8_t> diag_text_bytes_;

  std::chrono::steady_clock::time_point last_activity_{};
  std::minstd_rand random_;
  std::unique_ptr<std::uint8_t[]> window_;  // the frames of one read window

  Counters stats_;
  std::atomic<bool> finished_{false};
  std::atomic<bool> finished_on_probe_{false};
  std::atomic<bool> silent_{false};
  std::atomic<bool> diag_ran_{false};

  // Wakes wait_until() after every handled frame.
  mutable std::mutex wait_mutex_;
  mutable std::condition_variable handled_;

  // What other threads may read while the board runs.
  mutable std::mutex mutex_;
  std::array<SparseMemory, 5> memories_;  // by type; index 0 unused
  std::optional<transfer::CommandHeader> last_header_;
  std::optional<EnvironmentBlock> environment_;
  std::vector<std::uint8_t> diag_image_;

  std::uint8_t tx_[link::kMaxFrame] = {};
  std::uint8_t foreign_[link::kMinFrame] = {};
};

}  // namespace skav::sim

#pragma once

// The one rig of the station's tests: a working folder (with the example configuration), a
// settings store and its address pool, a log, a station, and a cable whose far end answers on
// the sending thread, all on a clock the test owns. A silent board times out at once: when
// nothing waits on the cable nothing can come, so a receive moves the clock on by its time-out.

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/board_line.h"
#include "sim/sim_board.h"
#include "core/clock.h"
#include "core/link/in_memory.h"
#include "core/settings/file_settings_store.h"
#include "core/settings/store_address_pool.h"
#include "core/station/station.h"
#include "support/temp_dir.h"

namespace skav::test {

// A settings file whose MACHWID writes fail as on a full disk (ENOSPC, after the store's own
// message) while `full` is set.
class FullDiskStore : public settings::FileSettingsStore {
 public:
  using settings::FileSettingsStore::FileSettingsStore;
  int machwid_write(Log* log, const MacDigits::Digits& digits) override {
    if (!full) return settings::FileSettingsStore::machwid_write(log, digits);
    log_sink(log, "Could not create the registry key.\r\n");
    return ENOSPC;
  }
  std::atomic<bool> full{false};
};

// What the station's cable leads to: a peer that takes every frame the station sends (and,
// where the board runs on a thread of its own, hears of receives that came back empty: a null
// frame).
using Peer = std::function<void(const std::uint8_t* frame, std::size_t length)>;

// The cable between the station and the boards, with the adapter access and clock it comes
// with.
class Cable {
 public:
  virtual ~Cable() = default;
  virtual link::FrameBackend& backend() = 0;
  virtual Clock& clock() = 0;
  virtual std::string adapter() const = 0;  // the station's adapter, by system name
  virtual link::FrameDevice& board_end() = 0;
  virtual void set_peer(Peer peer) = 0;
  // Opens the far end again after its adapter was re-created. False where that cannot be.
  virtual bool reconnect() { return false; }
};

// A cable whose board end is served on the thread that sends: every frame the station sends is
// handed to the peer at once, and what the peer sends back waits for the station. Nothing
// waiting means silence, so the station's receive returns at once and moves the test's clock
// on by its time-out instead of waiting it out.
class DirectCable : public Cable {
 public:
  DirectCable();
  ~DirectCable() override;
  link::FrameBackend& backend() override;
  ManualClock& clock() override { return clock_; }
  std::string adapter() const override;
  link::FrameDevice& board_end() override;
  void set_peer(Peer peer) override;
  // The device the station's adapter opens, for a test that puts a device of its own (a
  // recorder) between it and the station's Link.
  link::FrameDevice& station_end();
  // Queues a frame for the station that arrives `delay` from now on the cable's clock: a
  // receive, or a wait for a frame, before then moves the clock on to it.
  void deliver_after(const std::uint8_t* frame, std::size_t length, Clock::duration delay);
  // How late a wait for frames (FrameDevice::wait_frames) wakes up when it slept; 0 by default.
  void set_wake_lateness(Clock::duration late) { wake_lateness_ = late; }

 private:
  class StationEnd;
  class BoardEnd;
  ManualClock clock_;
  link::FrameQueue to_station_;
  std::mutex due_mutex_;
  std::deque<Clock::time_point> due_;  // when each queued frame arrives, in queue order
  Clock::duration wake_lateness_{};
  std::mutex peer_mutex_;
  Peer peer_;
  std::unique_ptr<StationEnd> station_end_;
  std::unique_ptr<BoardEnd> board_end_;
  std::unique_ptr<link::InMemoryBackend> backend_;
};
std::unique_ptr<Cable> direct_cable();

// The peer that serves a simulated board, or a line of them: a frame is handled, a receive that
// came back empty (a null frame) lets the board notice a stall.
Peer serve(sim::SimBoard& board);
Peer serve(sim::BoardLine& line);

// The real libpcap link over a veth pair in a private network namespace, with the boards
// served on a thread of their own on the far end, on a clock four times faster than real time
// (a one-second time-out passes in 250 ms). The caller has entered the namespace
// (SKAV_REQUIRE_VETH_NAMESPACE); empty when the far end cannot be opened.
std::unique_ptr<Cable> veth_cable(const std::string& station_end = "skav0",
                                  const std::string& board_end = "skav1");

// Every snapshot and finished record a station told, in order.
class EventLog : public station::StationEvents {
 public:
  void on_snapshot(std::shared_ptr<const station::StationSnapshot> snapshot) override;
  void on_board_finished(const station::BoardRecord& record) override;
  std::vector<std::shared_ptr<const station::StationSnapshot>> snapshots() const;
  std::vector<station::BoardRecord> records() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<const station::StationSnapshot>> snapshots_;
  std::vector<station::BoardRecord> records_;
};

// One production record, by its header's field names.
struct RecordLine {
  std::string adapter, board_mac, written_mac, environment, kernel, uboot, filesystem, diag,
      verdict;
};
std::vector<RecordLine> read_records(const std::filesystem::path& file);
std::vector<std::string> split_lines(const std::string& text);

struct RigOptions {
  std::unique_ptr<Cable> cable;  // none: a direct cable
  bool examples = true;        // the example configuration and images in the working folder
  std::string config;          // config.ini's text instead (none: as `examples` leaves it)
  int barcode = 0;             // stored BarCode; -1: nothing stored (a first start)
  std::string first_address = "0200000A0000";  // stored MACHWID; empty: nothing stored
  std::chrono::milliseconds timeout = std::chrono::seconds(30);
  // The adapter for this station's life only; by default the cable's. With `stored_adapter`
  // the station opens the stored NetIF instead.
  std::optional<std::string> interface;
  bool stored_adapter = false;
  std::optional<station::BarcodeMode> barcode_override;  // Barcode Mode for this station's life only
  std::function<bool()> allow_worker_start;
  std::function<bool()> take_run;
  station::RecordWriter write_record;  // none: the records file as the station writes it
  bool start_up = true;  // carry out the start-up when the rig is made
  // The address pool instead of the rig's own (the store's MACHWID).
  settings::AddressPool* pool = nullptr;
  // Where the log and the events go instead of the rig's own (a window's, say).
  Log* log = nullptr;
  station::StationEvents* events = nullptr;
};

class StationRig {
 public:
  explicit StationRig(RigOptions options = {});
  ~StationRig();
  StationRig(const StationRig&) = delete;
  StationRig& operator=(const StationRig&) = delete;

  // The board on the cable (none: unplugged). Boards live as long as the rig.
  sim::SimBoard* plug(const sim::BoardOptions& options);
  void unplug();
  // A board that lives as long as the rig, not on the cable.
  sim::SimBoard* make_board(const sim::BoardOptions& options);
  // Whoever takes the station's frames now (a null frame: a receive of the far end came back
  // empty, where the far end has a thread of its own).
  void set_peer(Peer peer) { cable_->set_peer(std::move(peer)); }
  Cable& cable() { return *cable_; }
  // A line of `count` boards (MAC addresses counting up from `first.mac`) takes the cable.
  sim::BoardLine& plug_line(const sim::BoardOptions& first, int count);

  // Carries out posted commands and ticks until `done` holds, pausing a moment of real time
  // between ticks for a run's worker, for at most `limit` of real time. True when it held.
  bool step_until(const std::function<bool()>& done,
                  std::chrono::milliseconds limit = std::chrono::seconds(20));
  // Steps until `boards` runs have finished and the station went back to Idle.
  bool until_boards_done(int boards) {
    return step_until([&] { return station->boards_done() >= boards; });
  }
  // Carries out posted commands, without ticking, until the run's end has reached the station
  // (Run Status 2). True when it did within 20 s of real time.
  bool until_run_finished();
  // Steps until the station asks for a MAC address.
  bool until_entry_pending() { return step_until([this] { return station->entry_pending(); }); }
  // Posts each character, then carries them out.
  void type(const std::string& keys);

  // The rig's own log (empty when the log went elsewhere).
  std::string log_text() const { return log.text(); }
  link::InMemoryBackend& backend() { return dynamic_cast<link::InMemoryBackend&>(cable_->backend()); }
  link::FrameDevice& cable_board_end() { return cable_->board_end(); }
  Clock& clock() { return cable_->clock(); }
  std::vector<RecordLine> records() const { return read_records(dir / station::kRecordsFile); }
  // MACHWID as stored; empty when it cannot be read.
  std::string stored_address();
  std::vector<std::uint8_t> file(const std::string& name) const;

  TempDir dir;
  settings::FileSettingsStore store;
  settings::StoreAddressPool pool{store};
  StringLog log;
  EventLog events;
  std::unique_ptr<station::Station> station;

 private:
  std::unique_ptr<Cable> cable_;
  std::vector<std::unique_ptr<sim::SimBoard>> boards_;
  std::unique_ptr<sim::BoardLine> line_;
};

// A far end that only counts the Discovery Probes it hears and, when told to, answers them
// from `mac` (a run then finds nothing it could send to).
class ProbeAnswerer {
 public:
  ProbeAnswerer(link::FrameDevice& board_end, const link::Mac& mac) : board_end_(board_end), mac_(mac) {}
  void operator()(const std::uint8_t* frame, std::size_t length);
  int probes = 0;
  bool answer = false;

 private:
  link::FrameDevice& board_end_;
  link::Mac mac_;
};

// The first 12 characters of `text` as MAC Digits, hexadecimal or not.
MacDigits::Digits digits_of(std::string_view text);

// "02:00:00:0A:00:01" for the rig's first address plus `n`.
std::string written_address(int n);
// The ethaddr entry of the environment that the example configuration puts at spi 0x40000, as
// the board holds it; "" when there is none.
std::string ethaddr_of(const sim::SimBoard& board);

}  // namespace skav::test

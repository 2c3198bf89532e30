#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/link/frame_device.h"
#include "core/log.h"
#include "core/mac_digits.h"
#include "core/settings/address_pool.h"
#include "core/settings/file_settings_store.h"
#include "core/settings/pool_hold.h"
#include "core/settings/settings_store.h"
#include "core/station/station.h"
#include "line/router.h"
#include "line/totals.h"

namespace skav::line {

// What a face asks of one port's station.
struct StartUp {};              // settings restored, adapters listed, the adapter opened
struct Key { char c; };         // MAC entry: 13 Enter, 8 Backspace, others stored
struct ToggleBarcode {};        // the Barcode command
struct ApplyInterface {         // the Network Interface dialog's OK
  int index;
  MacDigits::Digits digits;
};
// The operator's Reset: the shift's counts, every port's among them, start again at nothing
// now. A line command: whichever port it is posted to, the whole line's shift restarts.
struct ResetShift {};
using Command = std::variant<StartUp, Key, ToggleBarcode, ApplyInterface, ResetShift>;

// Where the line's address pool stands.
enum class PoolState {
  kAvailable,  // gives addresses
  kWaiting,    // a port waits for it to answer (pool_problem says why)
  kExhausted,  // no address left: no port takes more boards
};

// Why the line is done.
enum class LineEnd {
  kRunning,        // not done
  kBoardsDone,     // the run budget's boards are all finished
  kPoolExhausted,  // the pool has no address left and no port is programming a board
};

// Everything a face shows of the line, as one immutable value, published whenever something
// in it changes.
struct LineSnapshot {
  std::uint64_t sequence = 0;  // grows with every snapshot published
  std::vector<std::string> port_names;  // the ports' adapters (system names), in port order
  // Each port's latest snapshot (null before its station published one).
  std::vector<std::shared_ptr<const station::StationSnapshot>> ports;
  Totals totals;
  // Each port's boards this shift, in port order. A board re-tested on another port counts on
  // each port it ran on, but once in totals.shift.
  std::vector<Counts> port_counts;
  int shift_resets = 0;  // ResetShifts so far: a face restarts its shift's clock when it grows
  // The port that takes the terminal's next character; none while no prompt is open.
  std::optional<std::size_t> typing_port;
  // The ports whose prompt is open and whose entry has not begun, first opened first.
  std::vector<std::size_t> asking;
  int budget = 0;        // boards the line programs before it ends (0: no end)
  int runs_started = 0;  // runs given out since the line started
  int boards_done = 0;   // runs finished over all ports
  PoolState pool = PoolState::kAvailable;
  std::string pool_problem;  // why it waits, or its message when exhausted
  LineEnd end = LineEnd::kRunning;
  bool done() const { return end != LineEnd::kRunning; }
};

// What the line tells a face besides the ports' own logs and events. Called on a station's
// thread (or the stepping thread); implementations hand the news to their own thread.
class LineEvents {
 public:
  virtual ~LineEvents() = default;
  virtual void on_snapshot(std::shared_ptr<const LineSnapshot> snapshot) = 0;
};

// What a port stands on: the adapter access, and whatever lives with it (a simulated port's
// wire and boards, which may run on a thread of their own).
class PortAccess {
 public:
  virtual ~PortAccess() = default;
  virtual link::FrameBackend& backend() = 0;
  // With the line: starts and stops what has a thread of its own.
  virtual void start() {}
  virtual void stop() {}
  // In a stepped line (tests): lets what serves the boards do one step's work.
  virtual void step() {}
};

// One port as the line is handed it.
struct PortParts {
  std::string name;  // the adapter (system name)
  std::unique_ptr<PortAccess> access;
  Log* log = nullptr;                         // the port's log: required
  station::StationEvents* events = nullptr;  // the face's own events of this port (or none)
  // The station's options; the line sets take_run itself.
  station::StationOptions options;
};

// All a line is built from: the settings store, the address pool with what holds it, and the
// ports, all of which the line then owns.
struct LineParts {
  std::unique_ptr<settings::SettingsStore> store;
  // A file pool's own store (apart from the settings) and the hold that keeps other stations
  // off it; either may be null.
  std::unique_ptr<settings::FileSettingsStore> pool_store;
  std::unique_ptr<settings::PoolHold> hold;
  std::unique_ptr<settings::AddressPool> pool;
  std::vector<PortParts> ports;
  // Boards the line programs over all its ports before it ends (0: no end): no run starts
  // beyond that many.
  int boards = 0;
  // The production records file, for today's totals; empty: today starts at nothing.
  std::filesystem::path records_file;
};

// Whether start() posts every port's start-up, or the face posts it (after opening a log).
enum class StartUps { kPost, kByFace };

// Where a window sends the operator's input, port by port, and reads a port's latest state for
// a decision it takes at once (the Interface dialog's apply). A running station's is its Line;
// a window's own tests hand in stations of theirs (StationsInput).
class PortInput {
 public:
  virtual ~PortInput() = default;
  // Posts `command` to port `port` (from 0); ignored for a port there is not. Any thread.
  virtual void post(std::size_t port, Command command) = 0;
  // Port `port`'s latest station snapshot; null for a port there is not. Any thread.
  virtual std::shared_ptr<const station::StationSnapshot> port_snapshot(std::size_t port) const = 0;
};

// Carries out `command` on `station`, as the line does on each of its ports. A line command
// (ResetShift) is none of a station's business: ignored.
void post_to(station::Station& station, const Command& command);

// Input for stations the caller owns and drives, one per port (null: none on that port).
class StationsInput : public PortInput {
 public:
  explicit StationsInput(std::vector<station::Station*> stations) : stations_(std::move(stations)) {}
  void post(std::size_t port, Command command) override;
  std::shared_ptr<const station::StationSnapshot> port_snapshot(std::size_t port) const override;

 private:
  std::vector<station::Station*> stations_;
};

// The owner of a station's ports: one Station per port on one address pool, the run budget
// over all ports, the routing of the operator's typing, and the line's totals. Faces post
// commands and read LineSnapshots; each port's station keeps its own log and events.
class Line : public PortInput {
 public:
  // Takes the parts. Each port needs its access and log.
  Line(LineParts parts, LineEvents* events = nullptr);
  ~Line() override;  // stop()
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  // Starts every port's station thread and what its access runs (simulated boards), after
  // posting its start-up unless the face does. Returns at once.
  void start(StartUps start_ups = StartUps::kPost);
  // Stops the stations (a run ends at its next wait) and their accesses. Idempotent.
  void stop();
  // Without start(): carries out what is posted and ticks every station once, each access
  // stepped first, on the calling thread. Tests step a line with this.
  void step();

  // Posts `command` to port `port` (from 0); ignored for a port the line does not have. A
  // ResetShift restarts the line's shift whatever the port. Any thread.
  void post(std::size_t port, Command command) override;
  std::shared_ptr<const station::StationSnapshot> port_snapshot(std::size_t port) const override;
  // Posts `command` to every port.
  void post_all(const Command& command);
  // The terminal's character `c`, routed to the port whose prompt opened first (see Router)
  // and posted there. The port it went to; none when no prompt is open.
  std::optional<std::size_t> type(char c);
  // For a window showing port `shown`: the port that should take its typing.
  std::size_t port_for_typing(std::size_t shown) const;

  // The last snapshot published. Any thread.
  std::shared_ptr<const LineSnapshot> snapshot() const;
  // Waits until a snapshot satisfies `condition` or `timeout` passes (system clock); true when
  // it did.
  bool wait_for(const std::function<bool(const LineSnapshot&)>& condition,
                std::chrono::milliseconds timeout) const;

  std::size_t port_count() const { return ports_.size(); }
  const std::string& port_name(std::size_t port) const { return ports_[port]->name; }
  // Port `port`'s station, for a face that still reads a station of its own.
  station::Station& station(std::size_t port) { return *ports_[port]->station; }
  PortAccess& access(std::size_t port) { return *ports_[port]->access; }
  settings::SettingsStore& store() { return *store_; }
  settings::AddressPool& pool() { return *pool_; }

 private:
  class PortEvents;
  struct Port {
    std::string name;
    std::unique_ptr<PortAccess> access;
    std::unique_ptr<PortEvents> events;
    std::unique_ptr<station::Station> station;  // last: it stops before the rest goes
  };
  // The budget's question before each run: false once the budget is spent or the pool is
  // exhausted.
  bool take_run();
  void on_port_snapshot(std::size_t port, std::shared_ptr<const station::StationSnapshot> snapshot);
  void on_board_finished(std::size_t port, const station::BoardRecord& record);
  void reset_shift();
  // Makes the next snapshot from `state_`. The caller holds `mutex_`.
  std::shared_ptr<const LineSnapshot> make_snapshot_locked();
  void publish(std::shared_ptr<const LineSnapshot> snapshot);

  LineEvents* events_;
  std::unique_ptr<settings::SettingsStore> store_;
  std::unique_ptr<settings::FileSettingsStore> pool_store_;
  std::unique_ptr<settings::PoolHold> hold_;
  std::unique_ptr<settings::AddressPool> pool_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  Router router_;
  LineSnapshot state_;  // the next snapshot's fields
  Tally shift_tally_;   // the shift's and today's counts, with each board's last verdict
  Tally today_tally_;
  std::vector<Tally> port_tallies_;  // each port's this shift
  std::shared_ptr<const LineSnapshot> snapshot_;
  std::mutex publish_mutex_;  // snapshots reach the events in the order made
  std::uint64_t told_ = 0;    // the last sequence told to the events

  std::vector<std::unique_ptr<Port>> ports_;  // last: the stations stop before the pool goes
};

}  // namespace skav::line

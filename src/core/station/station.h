#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>

#include "core/clock.h"
#include "core/link/link.h"
#include "core/log.h"
#include "core/mac_digits.h"
#include "core/settings/address_pool.h"
#include "core/settings/settings_store.h"
#include "core/station/mac_entry.h"
#include "core/station/production_run.h"
#include "core/station/records.h"
#include "core/station/station_events.h"
#include "core/station/steps.h"
#include "core/transfer/block_transfer.h"

namespace skav::station {

struct StationOptions {
  // Working directory: config.ini, the images, the description file and the records file.
  std::filesystem::path dir = ".";
  std::chrono::milliseconds transfer_timeout = transfer::kDefaultTimeout;
  std::chrono::milliseconds tick_period{100};
  // For this station's life only, never stored: the adapter to open (its system name) instead
  // of the stored NetIF, and Barcode Mode instead of the stored BarCode.
  std::optional<std::string> interface;
  std::optional<BarcodeMode> barcode;
  // The clock the link, the transfers and the station's waits read. The tick thread paces on
  // the system's clock whatever this is; tests that hand in a ManualClock drive step() instead.
  Clock* clock = nullptr;
  // Asked before each run starts: false keeps the board waiting without a run (asked again on
  // the next tick). A line that ends after a number of boards gives out that many runs.
  std::function<bool()> take_run;
  // Test hook: a run is carried out on the station's own thread, inside the tick that starts
  // it, instead of on a worker thread. With a far end that answers on the sending thread (a
  // direct cable) a whole board passes within one tick, so a test steps without threads.
  bool inline_runs = false;
  // Test hook: returns false to make the next worker start fail.
  std::function<bool()> allow_worker_start;
  // Test hook: writes a record to the records file instead of append_record.
  RecordWriter write_record;
};

// The station: one thread, its own, owns the Link, the station's fields (Barcode Mode, the MAC
// entry, the Adapter List, Run Status, the selected adapter index, the MAC Digits) and the
// Station Cycle. Front ends and signal handlers post commands, which the station carries out in
// order on its thread; it publishes what they show as immutable snapshots through its events.
// A run's worker receives the Link for the run and hands it back when the run ends.
class Station {
 public:
  Station(link::FrameBackend& backend, settings::SettingsStore& store, settings::AddressPool& pool,
          Log& log, StationEvents* events, StationOptions options = {});
  ~Station();  // stop()
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Starts the station's thread: it carries out posted commands as they come and runs one
  // Station Cycle tick every tick_period.
  void start();
  // Ends a run at its next wait, joins the worker and the station's thread, carries out what
  // is still posted, and closes the link. Everything already logged stays logged. Idempotent.
  void stop();
  // The first half of stop(), returning at once: the run ends at its next wait and no board is
  // taken after it. A line asks all its stations so before it waits for any.
  void request_stop();
  bool stop_requested() const { return stop_.load(); }

  // Commands; any thread may post them. They are carried out in the order posted.
  // Start-up (at program start, and after New or Open): settings restored (with repair writes),
  // adapters listed, the adapter opened (unless a run holds the link). A pending MAC entry is
  // discarded, and asked for afresh while the board waits for its address in Barcode Mode.
  void post_start_up();
  void post_key(char c);          // MAC entry: 13 Enter, 8 Backspace, others stored
  void post_toggle_barcode();     // the Barcode command
  // The Network Interface dialog's OK: stores NetIF and the MAC Digits, reopens the link.
  // Refused while a run is in progress, and for a group (multicast) address (the log says so).
  // Taken while a board waits for the pool: a next address set here is what it waits for.
  void post_apply_interface(int index, const MacDigits::Digits& digits);

  // Without start(): carries out what is posted, on the calling thread. Tests drive the
  // station with these; so does stop().
  void run_commands();
  // Without start(): one Station Cycle step on the calling thread.
  void tick();
  // Both, in that order.
  void step() {
    run_commands();
    tick();
  }

  // The last snapshot published. Any thread.
  std::shared_ptr<const StationSnapshot> snapshot() const;
  // Waits until boards_done reaches n or `timeout` passes (on the system clock); true when
  // reached.
  bool wait_boards_done(int n, std::chrono::milliseconds timeout) const;
  // Waits until a snapshot satisfies `condition` or `timeout` passes; true when it did.
  bool wait_for(const std::function<bool(const StationSnapshot&)>& condition,
                std::chrono::milliseconds timeout) const;

  // Shorthands for the snapshot's fields, for tests.
  StationState state() const { return snapshot()->state; }
  RunStatus run_status() const { return snapshot()->run_status; }
  bool entry_pending() const { return snapshot()->entry_pending; }
  BarcodeMode barcode_mode() const { return snapshot()->barcode_mode; }
  int selected_index() const { return snapshot()->selected_index; }
  MacDigits::Digits mac_digits() const { return snapshot()->digits; }
  std::string status_text() const { return snapshot()->status_text; }
  int boards_done() const { return snapshot()->boards_done; }

 private:
  struct StartUp {};
  struct Key { char c; };
  struct ToggleBarcode {};
  struct ApplyInterface {
    int index;
    MacDigits::Digits digits;
  };
  // The worker's news.
  struct Planned { RunPlan plan; };
  struct StepStarted { StepSlot slot; };
  struct PhaseStarted {
    StepSlot slot;
    DataPhase phase;
  };
  struct StepProgress {
    StepSlot slot;
    std::uint64_t done, total;
    double bytes_per_second;
  };
  struct StepFinished {
    StepSlot slot;
    Verdict verdict;
    std::string reason;
  };
  struct AddressTaken { MacDigits::Digits written, next; };
  struct PoolAnswer {
    settings::PoolCode code;
    std::string message;
  };
  struct RunEnded {
    std::shared_ptr<link::Link> link;
    KeptRecord kept;
  };
  using Command = std::variant<StartUp, Key, ToggleBarcode, ApplyInterface, Planned, StepStarted,
                               PhaseStarted, StepProgress, StepFinished, AddressTaken, PoolAnswer, RunEnded>;
  class RunNews;

  void post(Command command);
  void carry_out(Command& command);
  void start_up();
  void apply_interface(const ApplyInterface& apply);
  void take_back(RunEnded& ended);
  // Lists the adapters afresh and opens the selected one (or the one named for this station's
  // life). 1 opened, 0 not (logged).
  int reopen_link();
  // Searching with an adapter that went away: once a second, tries to open it again by name.
  void retry_lost_adapter();
  void note_adapter_lost();
  // Stores the records kept in memory, oldest first, as far as it can. True when none is left.
  bool write_kept();
  // Whether the station has what the connected board's run needs (its files, its records file,
  // an address from the pool): asked before each run, and once a second on the station's clock
  // while not. While not, the board waits; the snapshot's station_fault says why.
  bool ready_for_board();
  // The files' part of it (config.ini, the images, the records file); at a board's
  // connection too, so that Barcode Mode does not ask for an address the station cannot use.
  bool files_ready();
  // The pool's part of it: says why once when it cannot give an address, and when it can again.
  bool pool_ready();
  // How long the running step's board has been silent, as the snapshot shows it.
  void update_silence();
  void start_worker();
  KeptRecord run_worker(link::Link& link, MacDigits::Digits digits, bool exact);
  void thread_main();
  std::string format_status_text() const;
  // Publishes a snapshot when anything in it changed.
  void publish();

  settings::SettingsStore& store_;
  settings::AddressPool& pool_;
  Log& log_;
  StationEvents* events_;
  StationOptions options_;
  Clock& clock_;

  // Owned by the station's thread.
  std::shared_ptr<link::Link> link_;  // null while a run holds it
  BarcodeMode barcode_mode_ = BarcodeMode::kOn;
  MacEntry mac_entry_;
  bool entered_ = false;  // the MAC Digits are the operator's entry for the next run
  link::AdapterList adapters_;
  RunStatus run_status_ = RunStatus::kNoRun;
  int selected_index_ = 0;
  int stored_barcode_ = 1;  // BarCode and NetIF as stored, before this station's own choices
  int stored_index_ = 0;
  std::string status_text_;  // as the last tick formatted it
  MacDigits::Digits digits_ = MacDigits::kDefault;
  StationState state_ = StationState::kIdle;
  std::string adapter_problem_;
  bool adapter_lost_ = false;
  std::string lost_adapter_;  // the system name of the adapter that went away
  int lost_ticks_ = 0;
  int check_ticks_ = 0;  // ticks searching since the station last asked for its adapter
  std::string run_adapter_;   // the adapter the run in progress holds
  std::optional<BoardView> board_;
  int boards_started_ = 0;
  int boards_done_ = 0;
  int start_ups_ = 0;
  bool stopped_ = false;
  std::optional<BoardRecord> finished_record_;  // told to the events after its snapshot
  // Records not stored yet, oldest first: no board is taken until they are.
  std::deque<KeptRecord> kept_;
  int kept_ticks_ = 0;
  bool pool_waiting_ = false;    // a run waits for the address pool to answer
  bool pool_exhausted_ = false;  // the pool has no address left: no more boards are taken
  std::string pool_problem_;
  settings::PoolResult<> pool_check_;  // the pool's last check
  bool pool_checked_ = false;        // pool_check_ holds for the board waiting now
  bool pool_check_waiting_ = false;  // a failed check keeps the board waiting
  // When the station last checked, for the board waiting now, its files and the pool.
  bool files_checked_ = false;
  Clock::time_point files_checked_at_{};
  Clock::time_point pool_checked_at_{};
  std::optional<StationFault> files_fault_;    // the files' part of the last check
  bool prompt_waiting_ = false;  // Barcode Mode asks for the address once the files are right
  std::optional<StationFault> station_fault_;  // as published
  // When the running step's board was last heard from (the worker's, as the clock's count).
  std::atomic<Clock::duration::rep> heard_at_{0};

  std::atomic<bool> stop_{false};  // ends a run's transfers at their next wait
  ImageBuffer images_;  // the worker's while a run lasts, kept for the next board
  std::thread worker_;
  std::thread thread_;

  mutable std::mutex queue_mutex_;
  std::condition_variable queue_changed_;
  std::deque<Command> queue_;
  bool stopping_ = false;

  mutable std::mutex snapshot_mutex_;
  mutable std::condition_variable snapshot_changed_;
  std::shared_ptr<const StationSnapshot> snapshot_;
};

}  // namespace skav::station

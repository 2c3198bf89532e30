#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/link/link.h"
#include "core/log.h"
#include "core/mac_digits.h"
#include "core/settings/settings_store.h"
#include "core/station/mac_entry.h"
#include "core/station/records.h"
#include "core/station/station_events.h"
#include "core/transfer/block_transfer.h"

namespace skav::station {

enum class StationState { kIdle = 0, kSearching = 1, kConnected = 2 };
enum RunStatus { kNoRun = 0, kRunning = 1, kRunFinished = 2 };

struct StationOptions {
  // Working directory: config.ini, the images, the description file and the records file.
  std::filesystem::path dir = ".";
  std::chrono::milliseconds transfer_timeout = transfer::kDefaultTimeout;
  std::chrono::milliseconds tick_period{100};
  // Test hook: returns false to make the next worker start fail.
  std::function<bool()> allow_worker_start;
};

// The station: its fields (Barcode Mode, MAC Entry Pending, Adapter List, Run Status, selected
// adapter index, MAC Digits), the Station Cycle ticking on a thread of its own, the Production
// Run on a worker thread, and the operator's commands. Front ends render the log and the events
// and hand in input; any thread may call the input operations.
class Station {
 public:
  Station(link::FrameBackend& backend, settings::SettingsStore& store, Log& log,
          StationEvents* events, StationOptions options = {});
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Start-up: settings restored (with repair writes), adapters listed, the selected adapter
  // opened (closing the one open before). While a run is in progress the link is left alone:
  // only the settings are read again.
  void start_up();
  // Starts ticking every tick_period on the station's own thread.
  void start();
  // Stops ticking, ends a run at its next wait, joins every thread and closes the link.
  // Everything already logged stays logged. Idempotent.
  void stop();
  // One Station Cycle step. Tests call it directly instead of start().
  void tick();

  // Operator input.
  void key_char(char c);   // MAC entry: 13 Enter, 8 Backspace, others stored
  void toggle_barcode();   // the Barcode command
  // The Network Interface dialog's OK: stores NetIF and MACHWID, reopens the link. Refused
  // (false, nothing changes) while a run is in progress.
  bool apply_interface(int index, const MacDigits::Digits& digits);

  // State, for front ends and tests.
  int barcode_mode() const { return barcode_mode_.load(); }
  bool entry_pending() const { return mac_entry_.pending(); }
  link::AdapterList adapter_list() const;
  int selected_index() const { return selected_index_.load(); }
  MacDigits::Digits mac_digits() const { return mac_digits_.get(); }
  int run_status() const { return run_status_.load(); }
  StationState state() const { return state_.load(); }
  bool run_active() const { return run_status_.load() != kNoRun; }
  std::string status_text() const;
  // Boards whose run finished and after which the station returned to Idle.
  int boards_done() const { return boards_done_.load(); }
  // Waits until boards_done() >= n or `timeout` passes; true when reached.
  bool wait_boards_done(int n, std::chrono::milliseconds timeout);
  const link::Link& link() const { return link_; }

 private:
  // Lists the adapters afresh and opens number index + 1 (the adapter open before is closed
  // first). 1 opened, 0 not. Called with the link's lock held.
  int reopen_link(int index);
  void start_worker();
  // Drops every frame already received, so the next board starts on a clean line.
  void discard_pending_frames();
  void run_worker();
  void join_worker();
  void tick_loop();

  link::Link link_;
  settings::SettingsStore& store_;
  Log& log_;
  StationEvents* events_;
  StationOptions options_;

  std::atomic<int> barcode_mode_{1};
  MacEntry mac_entry_;
  mutable std::mutex adapters_mutex_;
  link::AdapterList adapters_;
  std::atomic<int> run_status_{kNoRun};
  std::atomic<int> selected_index_{0};
  MacDigits mac_digits_;
  std::atomic<StationState> state_{StationState::kIdle};

  std::mutex link_mutex_;  // the tick thread's discovery vs. the operator's reopen
  std::atomic<bool> stop_{false};
  std::thread ticker_;
  std::thread worker_;
  std::string last_status_;
  std::atomic<int> boards_done_{0};
  std::mutex done_mutex_;
  std::condition_variable done_changed_;
  std::mutex tick_mutex_;
  std::condition_variable tick_wake_;
};

}  // namespace skav::station

#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/link/link.h"
#include "core/mac_digits.h"
#include "core/station/plan.h"
#include "core/station/records.h"
#include "core/station/verdict.h"

namespace skav::station {

enum class StationState { kIdle = 0, kSearching = 1, kConnected = 2 };
// Whether a board's run is going: kFinished until the station takes the run back.
enum class RunStatus { kNoRun, kRunning, kFinished };
// Barcode Mode: kOn asks the operator for each board's address before its run. Stored as
// BarCode 1 (on) and 0 (off); any other stored value counts as off.
enum class BarcodeMode { kOff, kOn };

// How long a running step's board may stay silent before the station says so.
inline constexpr std::chrono::seconds kSilenceShown{2};

// Something the station itself needs is missing or broken (an image, config.ini, the records
// file, the address pool): no board is taken until it is put right.
struct StationFault {
  std::string cause;   // "images/kernel.bin is missing"
  std::string remedy;  // "put it back or fix config.ini"
  bool operator==(const StationFault&) const = default;
};

// A step of the board in progress (or the last board), as a front end shows it.
struct StepView {
  enum class State { kWaiting, kRunning, kDone };
  StepSlot slot = StepSlot::kEnvironment;
  bool used = false;         // the run takes this step
  SkipReason skip = SkipReason::kNone;  // why the run does not send it (kNotConfigured: no step of this line)
  std::string summary;       // what the step does, or why it is skipped (step_summary's text)
  std::string file;          // the section's Filename, as configured
  std::uint64_t size = 0;    // the file's size in bytes when planned
  State state = State::kWaiting;
  Verdict verdict = Verdict::kSkipped;  // when kDone (and for steps the run does not take)
  std::string reason;        // why it did not pass
  std::uint64_t done = 0;    // bytes of the current data phase, while running
  std::uint64_t total = 0;
  double bytes_per_second = 0;
  DataPhase phase = DataPhase::kNone;  // which way the data travels, while running
  // Whole seconds, on the station's clock, since the board last sent a frame while the step
  // runs; 0 while it answers within kSilenceShown.
  int silent_seconds = 0;

  const char* name() const { return kStepNames[static_cast<std::size_t>(slot)]; }
  bool operator==(const StepView&) const = default;
};

// A planned step as a front end first shows it: waiting when the run takes it, else done
// (skipped).
inline StepView step_view(const PlanStep& step) {
  StepView view;
  view.slot = step.slot;
  view.used = step.used;
  view.skip = step.skip;
  view.summary = step_summary(step);
  view.file = step.record.filename;
  view.size = step.size;
  view.state = step.used ? StepView::State::kWaiting : StepView::State::kDone;
  return view;
}

// The board in progress, or the last one.
struct BoardView {
  int number = 0;               // 1 for the first board since the station started
  std::string board_mac;        // as discovered
  MacDigits::Digits address{};  // written into its environment (when `address_written`)
  bool address_written = false;
  bool planned = false;         // `steps` hold the run's plan
  std::array<StepView, kStepSlots> steps{};
  bool finished = false;
  Verdict overall = Verdict::kSkipped;  // when finished
  // The first step that did not pass and why, "filesystem: read-back differs"; empty if none.
  std::string failure;
  double seconds = 0;           // when finished
  // False when its record could not be stored at the board's end: the board does not pass
  // (`overall` is then never kPass) and shows a station error.
  bool record_stored = true;
  bool operator==(const BoardView&) const = default;
};

// Everything a front end shows of a station, as one immutable value. A new one is published
// whenever something in it changes.
struct StationSnapshot {
  std::uint64_t sequence = 0;   // grows with every snapshot published
  StationState state = StationState::kIdle;
  RunStatus run_status = RunStatus::kNoRun;
  std::string status_text;      // the Status Pane text, as the last tick set it (none before)
  BarcodeMode barcode_mode = BarcodeMode::kOn;
  bool entry_pending = false;
  int entry_counter = 0;
  // Why the last MAC entry was refused ("11 digits", "not hexadecimal"; empty while none is),
  // and how many were refused since the station started.
  std::string entry_refused;
  int entry_refusals = 0;
  link::AdapterList adapters;
  int selected_index = 0;
  MacDigits::Digits digits = MacDigits::kDefault;
  // The adapter in use (its system name), whether it is open, and what is wrong with it when
  // it is not (it could not be opened, or it went away).
  std::string adapter;
  bool adapter_open = false;
  std::string adapter_problem;
  std::optional<BoardView> board;
  // The address pool: a run waits for it to answer (`pool_problem` says why), or it has no
  // address left (`pool_problem` has its message) and the station takes no more boards.
  bool pool_waiting = false;
  bool pool_exhausted = false;
  std::string pool_problem;
  // Why the station takes no board now, when something of its own is wrong; checked before a
  // board's address is taken, and again every second while it stands.
  std::optional<station::StationFault> station_fault;
  // Records that could not be stored yet (the station keeps them and takes no board), and why.
  int records_kept = 0;
  std::string record_problem;
  int boards_done = 0;          // runs finished since the station started
  int start_ups = 0;            // start-ups carried out
  bool stopped = false;         // stop() has ended the station and closed its link
  bool operator==(const StationSnapshot&) const = default;
};

// What the station tells a front end besides the log. Called on the station's own thread;
// implementations hand the news to their own thread and return quickly.
class StationEvents {
 public:
  virtual ~StationEvents() = default;
  virtual void on_snapshot(std::shared_ptr<const StationSnapshot> snapshot) = 0;
  // A board's run finished. Follows the snapshot that shows it. A board whose record could not
  // be stored comes with the verdict fail (the station keeps the record and writes it later).
  virtual void on_board_finished(const BoardRecord& record) { (void)record; }
};

}  // namespace skav::station

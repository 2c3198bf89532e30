#include "present/panel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/mac_digits.h"
#include "present/progress.h"

namespace skav::present {

namespace {

using station::BoardView;
using station::StationSnapshot;
using station::StationState;
using station::StepView;
using station::Verdict;

std::string format(const char* fmt, double a, double b = 0) {
  char text[64];
  std::snprintf(text, sizeof text, fmt, a, b);
  return text;
}

// Byte counts in the unit of `scale`: "512 bytes", "48 kB", "12.0 MB", "1.25 GB" (decimal).
struct Unit {
  double size;
  const char* name;
  const char* format;
};

Unit unit_for(std::uint64_t scale) {
  if (scale < 1000) return {1, "bytes", "%.0f"};
  if (scale < 1000000) return {1e3, "kB", "%.0f"};
  if (scale < 1000000000) return {1e6, "MB", "%.1f"};
  return {1e9, "GB", "%.2f"};
}

std::string amount(std::uint64_t bytes, const Unit& unit) {
  return format(unit.format, static_cast<double>(bytes) / unit.size);
}

std::string time_left(double seconds) {
  auto whole = static_cast<long>(std::ceil(seconds));
  char text[48];
  if (whole < 60) {
    std::snprintf(text, sizeof text, "%ld s left", whole);
  } else {
    std::snprintf(text, sizeof text, "%ld min %ld s left", whole / 60, whole % 60);
  }
  return text;
}

const StepView* running_step(const BoardView& board) {
  for (const StepView& step : board.steps)
    if (step.state == StepView::State::kRunning) return &step;
  return nullptr;
}

std::string board_line(const BoardView& board) {
  std::string line = "Board " + std::to_string(board.number);
  if (board.address_written) {
    line += ", address " + MacDigits::colon_text(board.address);
  } else {
    line += board.finished ? ", no address written" : ", no address written yet";
  }
  if (board.finished) line += ", " + seconds_text(board.seconds);
  return line;
}

std::string programming_detail(const BoardView& board) {
  if (!board.planned) return "reading config.ini";
  std::vector<StepRow> rows = step_rows(board);
  const StepView* running = running_step(board);
  if (running == nullptr) return "";
  int index = 0;
  for (const StepRow& row : rows) {
    ++index;
    if (row.name == running->name())
      return "step " + std::to_string(index) + " of " + std::to_string(rows.size()) + ": " + row.name;
  }
  return running->name();
}

std::string failure_detail(const BoardView& board, bool adapter_open) {
  // The adapter's loss was the board's reason while it lasted; once the adapter is open again
  // only the outcome stands.
  if (board.overall == Verdict::kAdapterLost && adapter_open) {
    for (const StepView& step : board.steps)
      if (step.state == StepView::State::kDone && step.verdict == Verdict::kAdapterLost)
        return std::string(step.name()) + ": " + verdict_name(step.verdict) + " (the adapter is back)";
    return std::string(verdict_name(board.overall)) + " (the adapter is back)";
  }
  if (!board.failure.empty()) return board.failure;
  if (board.overall == Verdict::kSkipped) return "nothing configured: config.ini names no step";
  return verdict_name(board.overall);
}

}  // namespace

const char* word_text(Word word) {
  switch (word) {
    case Word::kStarting: return "STARTING";
    case Word::kSearching: return "SEARCHING";
    case Word::kConnected: return "CONNECTED";
    case Word::kProgramming: return "PROGRAMMING";
    case Word::kPass: return "PASS";
    case Word::kFail: return "FAIL";
    case Word::kTimeout: return "TIMEOUT";
    case Word::kAdapterError: return "ADAPTER ERROR";
    case Word::kStationError: return "STATION ERROR";
    case Word::kInterrupted: return "INTERRUPTED";
  }
  return "";
}

Tone tone_of(Word word) {
  switch (word) {
    case Word::kPass: return Tone::kGood;
    case Word::kFail:
    case Word::kTimeout:
    case Word::kAdapterError:
    case Word::kStationError: return Tone::kBad;
    case Word::kConnected:
    case Word::kProgramming: return Tone::kBusy;
    // An interrupted board has no verdict: the bad tone would call the operator to a board that
    // did not fail, and its word and shape already tell it from a station still starting.
    case Word::kInterrupted:
    case Word::kStarting:
    case Word::kSearching: break;
  }
  return Tone::kNeutral;
}

Word verdict_word(Verdict overall) {
  switch (overall) {
    case Verdict::kPass: return Word::kPass;
    case Verdict::kTimeout: return Word::kTimeout;
    case Verdict::kStopped:
    case Verdict::kAdapterLost: return Word::kInterrupted;
    default: return Word::kFail;
  }
}

Word board_word(const BoardView& board) {
  return board.record_stored ? verdict_word(board.overall) : Word::kStationError;
}

const char* step_state_text(StepState state) {
  switch (state) {
    case StepState::kWaiting: return "waiting";
    case StepState::kRunning: return "running";
    case StepState::kPass: return "pass";
    case StepState::kFail: return "fail";
    case StepState::kSkipped: return "skipped";
  }
  return "";
}

Rgb background_of(Tone tone) {
  // Green and red alone merge into one olive for a red-green deficient eye, and into one grey
  // on a greyscale print: the four tones also differ in lightness (dark green, a lighter
  // vermilion, a light blue, a pale grey) and the bad one leans to orange, away from green.
  switch (tone) {
    case Tone::kGood: return {0x0a, 0x45, 0x28};
    case Tone::kBad: return {0xcc, 0x48, 0x08};
    case Tone::kBusy: return {0x86, 0xb7, 0xe8};
    case Tone::kNeutral: break;
  }
  return {0xee, 0xee, 0xee};
}

Rgb text_colour_of(Tone tone) {
  if (tone == Tone::kGood || tone == Tone::kBad) return {0xff, 0xff, 0xff};
  return {0x1a, 0x1a, 0x1a};
}

Rgb state_colour(StepState state) {
  switch (state) {
    case StepState::kPass: return {0x1b, 0x6e, 0x2e};
    case StepState::kFail: return {0xb7, 0x1c, 0x1c};
    case StepState::kRunning: return {0x0d, 0x47, 0xa1};
    case StepState::kWaiting:
    case StepState::kSkipped: break;
  }
  return {0x61, 0x61, 0x61};
}

std::string rate_text(double bytes_per_second) {
  if (bytes_per_second <= 0) return "";
  return format("%.1f MB/s", bytes_per_second / 1e6);
}

std::string seconds_text(double seconds) { return format(seconds < 1 ? "%.2f s" : "%.1f s", seconds); }

std::string progress_text(std::uint64_t done, std::uint64_t total, double bytes_per_second) {
  Unit unit = unit_for(total);
  std::string text = amount(std::min(done, total), unit) + " of " + amount(total, unit) + " " + unit.name;
  if (bytes_per_second > 0) {
    text += ", " + rate_text(bytes_per_second);
    if (done < total) text += ", " + time_left(static_cast<double>(total - done) / bytes_per_second);
  }
  return text;
}

std::string progress_text(const StepView& step) {
  std::string text = phase_text(step.phase);
  if (!text.empty()) text += ' ';
  std::string silence = silence_text(step.silent_seconds);
  if (silence.empty()) return text + progress_text(step.done, step.total, step.bytes_per_second);
  Unit unit = unit_for(step.total);
  return text + amount(std::min(step.done, step.total), unit) + " of " + amount(step.total, unit) + " " +
         unit.name + ", " + silence;
}

const char* step_word(const StepView& step) {
  switch (step.state) {
    case StepView::State::kWaiting: return "waiting";
    case StepView::State::kRunning: return "running";
    case StepView::State::kDone: break;
  }
  return station::verdict_name(step.verdict);
}

std::vector<StepRow> step_rows(const BoardView& board) {
  std::vector<StepRow> rows;
  if (!board.planned) return rows;
  for (const StepView& step : board.steps) {
    // A section the configuration does not name is no step of this line's run; one named but
    // unusable (a wrong Mem_type) stays, so that the engineer sees it skipped.
    if (step.skip == station::SkipReason::kNotConfigured) continue;
    StepRow row;
    row.name = step.name();
    row.word = step_word(step);
    // Until the run reaches it, a step it will skip says so before why.
    row.text = step.skip == station::SkipReason::kNone ? step.summary : "skipped, " + step.summary;
    switch (step.state) {
      case StepView::State::kWaiting:
        row.state = StepState::kWaiting;
        break;
      case StepView::State::kRunning:
        row.state = StepState::kRunning;
        if (step.total > 0) {
          row.moving = true;
          row.percent = step_percent(step.done, step.total);
          row.bytes_per_second = step.bytes_per_second;
          row.progress = progress_text(step);
        }
        break;
      case StepView::State::kDone:
        switch (step.verdict) {
          case Verdict::kPass:
            row.state = StepState::kPass;
            break;
          case Verdict::kSkipped:
            row.state = StepState::kSkipped;
            row.text = step.summary;
            break;
          case Verdict::kNotRun:
            row.state = StepState::kSkipped;
            row.text = step.reason.empty() ? "not reached" : step.reason;
            break;
          default:
            row.state = StepState::kFail;
            row.text = step.reason.empty() ? verdict_name(step.verdict) : step.reason;
            break;
        }
        break;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

Panel make_panel(const StationSnapshot& snapshot) {
  Panel panel;
  const BoardView* board = snapshot.board ? &*snapshot.board : nullptr;
  // A board connected after the last one finished: the last one's verdict has been seen.
  bool new_board = snapshot.state == StationState::kConnected && snapshot.run_status == station::RunStatus::kNoRun;

  if (board != nullptr && !new_board) {
    panel.board = board_line(*board);
    panel.steps = step_rows(*board);
  }
  if (snapshot.start_ups == 0) {
    panel.word = Word::kStarting;
  } else if (!snapshot.adapter_open && !snapshot.stopped) {
    // Whatever the last board showed, nothing more can be programmed until the adapter works.
    panel.word = Word::kAdapterError;
    if (!snapshot.adapter.empty()) panel.board = "Adapter " + snapshot.adapter;
    panel.detail = !snapshot.adapter_problem.empty() ? snapshot.adapter_problem
                   : snapshot.adapter.empty()        ? "no adapter is open"
                                                     : snapshot.adapter + " is not open";
  } else if (snapshot.records_kept > 0) {
    // No board is taken until the kept records are stored.
    panel.word = Word::kStationError;
    panel.detail = "record not stored: " + snapshot.record_problem;
  } else if (snapshot.station_fault && snapshot.run_status == station::RunStatus::kNoRun) {
    // The board waits: nothing is wrong with it, and it is taken once this is put right.
    panel.word = Word::kStationError;
    panel.detail = snapshot.station_fault->cause + ": " + snapshot.station_fault->remedy;
    panel.board.clear();
    panel.steps.clear();
  } else if (new_board) {
    panel.word = Word::kConnected;
    if (snapshot.entry_pending) panel.detail = "type or scan the board's MAC address, then Enter";
    if (snapshot.pool_waiting) panel.detail = "waiting for the MAC address pool: " + snapshot.pool_problem;
  } else if (board != nullptr && !board->finished) {
    panel.word = Word::kProgramming;
    panel.detail = programming_detail(*board);
    if (snapshot.pool_waiting) panel.detail = "waiting for the MAC address pool: " + snapshot.pool_problem;
  } else if (board != nullptr) {
    panel.word = board_word(*board);
    if (panel.word == Word::kStationError)
      panel.detail = "record not stored at the board's end; written since";
    else if (panel.word != Word::kPass)
      panel.detail = failure_detail(*board, snapshot.adapter_open);
  } else {
    panel.word = Word::kSearching;
    panel.detail = "connect a board";
  }
  panel.tone = tone_of(panel.word);
  return panel;
}

}  // namespace skav::present

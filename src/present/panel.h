#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/station/station_events.h"
#include "core/station/verdict.h"

namespace skav::present {

// What a front end shows of a station beside its log, worked out from one snapshot. Every
// window (and the terminal) draws this; none decides anything of its own.

// Where the board stands, in one word that can be read from across the line.
enum class Word {
  kStarting,      // before the station's start-up has opened the adapter
  kSearching,     // no board yet; the station looks for one
  kConnected,     // a board answered; its run has not started (in Barcode Mode: asks for the address)
  kProgramming,   // a run is in progress
  kPass,          // the last board: every configured step passed
  kFail,          // the last board: a step failed, or nothing was configured
  kTimeout,       // the last board fell silent
  kAdapterError,  // the adapter cannot be opened or went away
  kStationError,  // the station itself cannot go on (a record not stored, an image missing, ...)
  kInterrupted,   // the last board's run was cut short (stopped, or its adapter went away)
};

// Every word, in the enum's order: for a reader that maps a word's text back to the word.
inline constexpr Word kWords[] = {Word::kStarting,     Word::kSearching,    Word::kConnected,
                                  Word::kProgramming,  Word::kPass,         Word::kFail,
                                  Word::kTimeout,      Word::kAdapterError, Word::kStationError,
                                  Word::kInterrupted};

// What the word's background says: nothing yet (or no verdict, as for an interrupted board),
// work in progress, good, bad.
enum class Tone { kNeutral, kBusy, kGood, kBad };

// "STARTING", "SEARCHING", "CONNECTED", "PROGRAMMING", "PASS", "FAIL", "TIMEOUT", "ADAPTER ERROR",
// "STATION ERROR", "INTERRUPTED".
const char* word_text(Word word);
Tone tone_of(Word word);

// A finished board's word from its overall verdict: PASS, TIMEOUT, INTERRUPTED for a run that
// was stopped or lost its adapter (the board did not fail, it was not finished), or FAIL for
// everything else. A board on which nothing was configured (skipped) got nothing: it does not pass.
Word verdict_word(station::Verdict overall);
// A finished board's word: STATION ERROR when its record was not stored, else its verdict's.
Word board_word(const station::BoardView& board);

// True for the words that call the operator (FAIL and TIMEOUT); an interrupted board does not.
inline bool is_alarm(Word word) { return word == Word::kFail || word == Word::kTimeout; }

// A step's state as its colour says it: kFail for every outcome that did not pass (fail,
// timeout, stopped, adapter-lost), kSkipped for a step not sent (skipped, not-run).
enum class StepState { kWaiting, kRunning, kPass, kFail, kSkipped };

// "waiting", "running", "pass", "fail", "skipped".
const char* step_state_text(StepState state);
// The word a step's row shows: "waiting", "running", or its record's own word (verdict_name:
// "pass", "fail", "timeout", "not-run", "stopped", "adapter-lost", "skipped").
const char* step_word(const station::StepView& step);
// The widest of step_word's words, for a column that must hold any of them.
inline constexpr const char* kWidestStepWord = "adapter-lost";

// The panel's colours, one palette for every window: the word's background and text by tone
// (white on the green and the vermilion that call the eye), and a step's state as text colour.
// The four tones stay apart for the common colour-vision deficiencies and in greyscale; each
// word also has a shape (marks.h).
struct Rgb {
  std::uint8_t red, green, blue;
};
Rgb background_of(Tone tone);
Rgb text_colour_of(Tone tone);
Rgb state_colour(StepState state);

// One step of the run's plan as a row: environment, each configured section, the diagnostic.
struct StepRow {
  std::string name;  // "kernel"
  StepState state = StepState::kWaiting;
  std::string word = "waiting";  // step_word's: what the row says of the step
  // What the step does ("memory type 1 (nand), command 0 (write), 49152 bytes from ..."), why
  // it is skipped, or why it failed.
  std::string text;
  // While the step's data moves: its current data phase (the write, then the read-back).
  bool moving = false;
  int percent = 0;
  double bytes_per_second = 0;
  // "writing 12.0 of 48.0 MB, 11.9 MB/s, 3 s left"; "verifying 12.0 of 48.0 MB, no answer for
  // 3 s" when the board has gone silent; empty unless moving.
  std::string progress;
};

struct Panel {
  Word word = Word::kStarting;
  Tone tone = Tone::kNeutral;
  // The board in progress or the last one: "Board 3, address 02:00:00:0A:00:02, 4.2 s" (its number,
  // the address written into it, the seconds its run took); empty before the first board.
  // While the adapter is in error, "Adapter eth1".
  std::string board;
  // One line under the word: which step failed and why, what is wrong with the adapter, or
  // what the station waits for.
  std::string detail;
  // The run's steps, in the run's order; empty before the board's plan is known.
  std::vector<StepRow> steps;
};

Panel make_panel(const station::StationSnapshot& snapshot);

// The rows of a board's steps. Steps the configuration does not name are left out.
std::vector<StepRow> step_rows(const station::BoardView& board);

// "12.0 MB/s"; bytes_per_second 0 gives "".
std::string rate_text(double bytes_per_second);
// "12.0 of 48.0 MB, 11.9 MB/s, 3 s left", as far as known.
std::string progress_text(std::uint64_t done, std::uint64_t total, double bytes_per_second);
// A running step's: its phase first, and instead of a rate and an estimate, how long the board
// has been silent once that shows ("verifying 12.0 of 48.0 MB, no answer for 3 s").
std::string progress_text(const station::StepView& step);
// "4.2 s"; below a second "0.42 s".
std::string seconds_text(double seconds);

}  // namespace skav::present

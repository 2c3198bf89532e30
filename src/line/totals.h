#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <unordered_map>

#include "core/station/records.h"
#include "core/station/verdict.h"

namespace skav::line {

// Boards (addresses) and runs finished over some time. A re-test runs a board again: it adds a
// run, not a board, and the board counts by its last run. A board whose run was cut short
// (adapter-lost, stopped) is interrupted, not failed; any other run that did not pass failed.
struct Counts {
  int boards = 0;
  int passed = 0;          // boards whose last run passed
  int failed = 0;          // boards whose last run failed
  int first_attempts = 0;  // boards whose first run is among these
  int passed_first = 0;    // passed at their first attempt
  int attempts = 0;        // runs, re-tests included
  int interrupted = 0;     // boards whose last run was cut short (adapter-lost, stopped)

  // A run ended `overall`. `previous`: the verdict of the board's last run before, when the
  // board is counted here already (a re-test); `attempt`: which run of the board it was.
  void add(station::Verdict overall, int attempt, std::optional<station::Verdict> previous = std::nullopt);
  // First-pass yield: the share (0 to 1) of the boards that passed at their first attempt;
  // none before the first board.
  std::optional<double> first_pass_yield() const;
  // Final yield: the share (0 to 1) of the boards whose last run passed; none before the first.
  std::optional<double> final_yield() const;
  bool operator==(const Counts&) const = default;
};

// Counts kept with each board's last verdict, by the address written into it, so that a
// re-test (a run whose attempt is above 1) moves its board from failed to passed instead of
// adding one.
class Tally {
 public:
  // A finished run. A record without a written address is a board of its own.
  void add(const station::BoardRecord& record);
  const Counts& counts() const { return counts_; }

 private:
  Counts counts_;
  std::unordered_map<std::string, station::Verdict> last_;  // by written_mac, upper-case
};

// The line's totals: this shift (since the line started) and today (from the production
// records file, carried on as boards finish).
struct Totals {
  std::string shift_since;  // when the line started, ISO 8601 with time zone
  Counts shift;
  std::string date;  // today's local date, "2026-12-09"
  Counts today;
  bool operator==(const Totals&) const = default;
};

// Counts the boards and runs of `date` ("2026-12-09") in the records file, by its header's
// column names (a file written before attempts were counted: every run a first). A missing or
// unreadable file, or lines that are not records, count nothing.
Tally read_day(const std::filesystem::path& records_file, const std::string& date);

// Adds a finished run to the totals, whose counts `shift` and `today` keep: a record of a later
// day than `totals.date` starts that day's count afresh.
void add_board(Totals& totals, Tally& shift, Tally& today, const station::BoardRecord& record);

// The local date of an ISO 8601 time ("2026-12-09T06:26:13+01:00" gives "2026-12-09");
// empty when the text does not start with one.
std::string date_of(const std::string& time);

}  // namespace skav::line

#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/station/records.h"
#include "core/station/verdict.h"

namespace skav::line {

// Whether a board's run was its first. Every run is a first attempt until the line knows
// re-tests.
enum class Attempt { kFirst, kRetest };

// Boards finished over some time, how many passed, and how many passed at their first attempt.
// A board that did not pass failed, whatever stopped it.
struct Counts {
  int boards = 0;
  int passed = 0;
  int failed = 0;
  int first_attempts = 0;
  int passed_first = 0;  // passed at their first attempt

  void add(station::Verdict overall, Attempt attempt);
  // First-pass yield: the share (0 to 1) of the boards that passed at their first attempt;
  // none before the first board.
  std::optional<double> first_pass_yield() const;
  bool operator==(const Counts&) const = default;
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

// Counts the boards of `date` ("2026-12-09") in the records file, by its header's column
// names. A missing or unreadable file, or lines that are not records, count nothing.
Counts read_day(const std::filesystem::path& records_file, const std::string& date);

// Adds a finished board to the totals: a record of a later day than `totals.date` starts that
// day's count afresh.
void add_board(Totals& totals, const station::BoardRecord& record, Attempt attempt);

// The local date of an ISO 8601 time ("2026-12-09T06:26:13+01:00" gives "2026-12-09");
// empty when the text does not start with one.
std::string date_of(const std::string& time);

}  // namespace skav::line

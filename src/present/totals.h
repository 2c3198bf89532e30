#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/station/records.h"
#include "core/station/verdict.h"
#include "line/totals.h"

namespace skav::present {

// Boards finished, and how many of them passed. A board whose run was cut short (its adapter
// went away, or the station was stopped) is interrupted; any other that did not pass failed. Re-tests add runs, not boards.
struct Totals {
  int boards = 0;
  int passed = 0;
  int failed = 0;
  int attempts = 0;      // runs, re-tests included
  int interrupted = 0;   // last run cut short (adapter-lost, stopped)
  int passed_first = 0;  // passed at their first attempt

  // A board's only run.
  void add(station::Verdict overall) {
    ++boards;
    ++attempts;
    if (overall == station::Verdict::kPass) {
      ++passed;
      ++passed_first;
    } else if (overall == station::Verdict::kAdapterLost || overall == station::Verdict::kStopped) {
      ++interrupted;
    } else {
      ++failed;
    }
  }
  // The line's counts of boards and runs.
  static Totals of(const line::Counts& counts) {
    return {counts.boards, counts.passed, counts.failed, counts.attempts, counts.interrupted,
            counts.passed_first};
  }
  // Several ports' totals as one.
  Totals& operator+=(const Totals& other) {
    boards += other.boards;
    passed += other.passed;
    failed += other.failed;
    attempts += other.attempts;
    interrupted += other.interrupted;
    passed_first += other.passed_first;
    return *this;
  }
  // Percent of the boards that passed (at last, and at their first attempt); none before the
  // first board.
  std::optional<int> pass_rate() const;
  std::optional<int> first_pass_rate() const;
  bool operator==(const Totals&) const = default;
};

// Boards per hour over `elapsed`; none below a minute, where a rate says nothing yet.
std::optional<double> boards_per_hour(int boards, std::chrono::seconds elapsed);

// "12 boards: 11 passed, 1 failed" ("1 board: ..."), then ", 1 interrupted" and ", 14 runs"
// where there were any interrupted boards or re-tests.
std::string totals_line(const Totals& totals);

// The shift's and the day's totals in the words every window shows them in (UTF-8).
struct TotalsText {
  std::string shift;   // "This shift, since 08:02"; "This shift" when `since` is empty
  // "5 boards   3 passed   2 failed", then "   1 interrupted", "   7 runs" where there are any
  std::string counts;
  // "60% passed   12 per hour"; "no board yet   — per hour"; with re-tests that passed,
  // "80% passed   60% first pass   12 per hour"
  std::string rate;
  std::string today;   // "Today: 12 boards: 11 passed, 1 failed"
  bool operator==(const TotalsText&) const = default;
};
TotalsText totals_text(const Totals& shift, std::optional<double> per_hour,
                       const std::string& since, const Totals& today);

// The totals of one calendar day (local time) from the production records, carried on as
// boards finish; a record of a later day starts that day's totals afresh.
class DayTotals {
 public:
  // Reads the boards of `date` ("2026-12-09") from the records file. A missing or unreadable
  // file, or lines that are not records, count nothing.
  DayTotals(const std::filesystem::path& records_file, std::string date);
  void add(const station::BoardRecord& record);
  const std::string& date() const { return date_; }
  Totals totals() const { return Totals::of(tally_.counts()); }

 private:
  std::string date_;
  line::Tally tally_;
};

// What a window asks before the operator's Reset empties the shift's count: a stray click
// would lose the shift's figures for good.
inline constexpr char kResetQuestion[] =
    "Start the shift's totals again at nothing? Today's count and the records stay as they are.";

// What a window shows of its boards: each port's this shift, the shift's over all ports, and
// today's from the production records. The window hands in the times (steady time for the
// rate, the local clock's "08:02" for the shift's start), so that tests drive them.
class TotalsModel {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  // A shift that starts at `now`, at the local time `since` ("08:02"), with `ports` ports.
  TotalsModel(TimePoint now, std::string since, std::size_t ports = 1);

  // Ports from now on; never fewer than before.
  void set_port_count(std::size_t ports);
  std::size_t port_count() const { return ports_.size(); }
  // Today's totals from the records file (read now) for `date`; the boards that finish add to
  // them. Without one, today counts nothing.
  void set_records_file(const std::filesystem::path& file, std::string date);
  // A board of port `port` finished: it counts in its port's, the shift's and today's totals.
  void add(std::size_t port, const station::BoardRecord& record);
  // The operator's Reset: the shift's count starts again at `now`, local time `since`.
  void reset_shift(TimePoint now, std::string since);

  // Port `port`'s boards this shift (none for a port out of range).
  Totals port(std::size_t port) const;
  // The shift's boards over all ports.
  Totals shift() const;
  // Today's boards; nothing without a records file.
  Totals today() const;
  // The panel's words at `now` (which moves the boards-per-hour rate).
  TotalsText text(TimePoint now) const;

 private:
  std::vector<line::Tally> ports_;
  line::Tally shift_;  // not the ports' sum: a board re-tested on another port is one board
  TimePoint start_;
  std::string since_;
  std::optional<DayTotals> today_;
};

// The line's totals as a window shows them. The figures are the line's own (each port's this
// shift, the shift's over all ports, today's); kept here is only when the shift's clock
// started, for the boards-per-hour rate, which moves on between the line's snapshots.
class TotalsView {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  // Before the line's first figures: nothing counted, the shift's clock started at `now`.
  explicit TotalsView(TimePoint now) : start_(now) {}
  // The line's latest figures at `now`. `shift_resets` above the last one seen (the operator's
  // Reset) starts the shift's clock again at `now`.
  void show(const line::Totals& totals, const std::vector<line::Counts>& ports, int shift_resets,
            TimePoint now);

  // Port `port`'s boards this shift (none for a port out of range).
  Totals port(std::size_t port) const;
  Totals shift() const { return Totals::of(totals_.shift); }
  Totals today() const { return Totals::of(totals_.today); }
  // The panel's words at `now` (which moves the boards-per-hour rate); the shift's start is
  // the local time of day the line gives.
  TotalsText text(TimePoint now) const;

 private:
  line::Totals totals_;
  std::vector<line::Counts> ports_;
  int shift_resets_ = 0;
  TimePoint start_;
};

// The local time of day ("08:02") of an ISO 8601 time ("2026-12-09T08:02:13+01:00"); empty when
// the text is not one.
std::string clock_of(const std::string& time);

// The local time of day, "08:02".
std::string clock_text();

// The local date of a record's time ("2026-12-09T06:26:13+01:00" gives "2026-12-09"); empty
// when the text does not start with one.
std::string record_date(const std::string& time);
// Today's local date, "2026-12-09".
std::string today();

}  // namespace skav::present

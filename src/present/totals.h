#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

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

// What a window asks before the operator's Reset empties the shift's count: a stray click
// would lose the shift's figures for good.
inline constexpr char kResetQuestion[] =
    "Start the shift's totals again at nothing? Today's count and the records stay as they are.";

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

}  // namespace skav::present

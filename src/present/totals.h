#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/station/records.h"
#include "core/station/verdict.h"

namespace skav::present {

// Boards finished, and how many of them passed. A board that did not pass failed, whatever
// stopped it.
struct Totals {
  int boards = 0;
  int passed = 0;
  int failed = 0;

  void add(station::Verdict overall) {
    ++boards;
    if (overall == station::Verdict::kPass) {
      ++passed;
    } else {
      ++failed;
    }
  }
  // Several ports' totals as one.
  Totals& operator+=(const Totals& other) {
    boards += other.boards;
    passed += other.passed;
    failed += other.failed;
    return *this;
  }
  // Percent of the boards that passed; none before the first board.
  std::optional<int> pass_rate() const;
  bool operator==(const Totals&) const = default;
};

// Boards per hour over `elapsed`; none below a minute, where a rate says nothing yet.
std::optional<double> boards_per_hour(int boards, std::chrono::seconds elapsed);

// "12 boards: 11 passed, 1 failed" ("1 board: ...").
std::string totals_line(const Totals& totals);

// The shift's and the day's totals in the words every window shows them in (UTF-8).
struct TotalsText {
  std::string shift;   // "This shift, since 08:02"; "This shift" when `since` is empty
  std::string counts;  // "5 boards   3 passed   2 failed"
  std::string rate;    // "60% passed   12 per hour"; "no board yet   — per hour"
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
  const Totals& totals() const { return totals_; }

 private:
  std::string date_;
  Totals totals_;
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
  std::vector<Totals> ports_;
  TimePoint start_;
  std::string since_;
  std::optional<DayTotals> today_;
};

// The local time of day, "08:02".
std::string clock_text();

// The local date of a record's time ("2026-12-09T06:26:13+01:00" gives "2026-12-09"); empty
// when the text does not start with one.
std::string record_date(const std::string& time);
// Today's local date, "2026-12-09".
std::string today();

}  // namespace skav::present

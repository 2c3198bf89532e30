// The shift's and the day's totals as a window shows them: arithmetic, words, and the line's
// figures with the window's own clock for the rate.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "present/totals.h"

namespace skav::present {
namespace {

using station::Verdict;

// Boards, passed, failed.
using Counted = std::array<int, 3>;
Counted counted(const Totals& totals) { return {totals.boards, totals.passed, totals.failed}; }

TEST(Totals, EveryBoardThatDidNotPassFailedUnlessItsRunWasCutShortAndTheRateIsRounded) {
  Totals totals;
  EXPECT_FALSE(totals.pass_rate());
  EXPECT_EQ(totals_line(totals), "0 boards: 0 passed, 0 failed");
  totals.add(Verdict::kPass);
  EXPECT_EQ(totals_line(totals), "1 board: 1 passed, 0 failed");
  for (Verdict v : {Verdict::kFail, Verdict::kTimeout, Verdict::kStopped, Verdict::kAdapterLost,
                    Verdict::kSkipped, Verdict::kPass})
    totals.add(v);
  EXPECT_EQ(counted(totals), (Counted{7, 2, 3}));
  EXPECT_EQ(totals.interrupted, 2);  // stopped, adapter-lost
  EXPECT_EQ(totals.pass_rate(), 29);  // 28.57
  totals.add(Verdict::kPass);
  EXPECT_EQ(totals.pass_rate(), 38);  // 37.5 rounds up
  EXPECT_EQ(totals_line(totals), "8 boards: 3 passed, 3 failed, 2 interrupted");
}

TEST(Totals, BoardsPerHourNeedAMinute) {
  using std::chrono::seconds;
  EXPECT_FALSE(boards_per_hour(3, seconds(59)));
  EXPECT_DOUBLE_EQ(*boards_per_hour(3, seconds(60)), 180.0);
  EXPECT_DOUBLE_EQ(*boards_per_hour(12, seconds(7200)), 6.0);
  EXPECT_DOUBLE_EQ(*boards_per_hour(0, seconds(600)), 0.0);
}

// The words every window shows the totals in: singular and plural, the rate rounded, no rate
// before the first board nor boards per hour before the first minute.
TEST(Totals, TextInTheWindowsWords) {
  struct Case {
    Totals shift;
    std::optional<double> per_hour;
    std::string since;
    Totals today;
    TotalsText expected;
  };
  const std::vector<Case> cases = {
      {{}, std::nullopt, "", {},
       {"This shift", "0 boards   0 passed   0 failed", "no board yet   \xE2\x80\x94 per hour",
        "Today: 0 boards: 0 passed, 0 failed"}},
      {{1, 1, 0}, std::nullopt, "08:02", {4, 3, 1},
       {"This shift, since 08:02", "1 board   1 passed   0 failed",
        "100% passed   \xE2\x80\x94 per hour", "Today: 4 boards: 3 passed, 1 failed"}},
      {{3, 2, 1}, 11.5, "14:30", {1, 0, 1},
       {"This shift, since 14:30", "3 boards   2 passed   1 failed", "67% passed   12 per hour",
        "Today: 1 board: 0 passed, 1 failed"}},
      {{0, 0, 0}, 0.0, "06:00", {},
       {"This shift, since 06:00", "0 boards   0 passed   0 failed", "no board yet   0 per hour",
        "Today: 0 boards: 0 passed, 0 failed"}},
      // A board re-tested (two runs) that passed at the second, and one cut short.
      {{2, 1, 0, 3, 1, 0}, 2.0, "08:00", {2, 1, 0, 3, 1, 0},
       {"This shift, since 08:00", "2 boards   1 passed   0 failed   1 interrupted   3 runs",
        "50% passed   0% first pass   2 per hour", "Today: 2 boards: 1 passed, 0 failed, 1 interrupted, 3 runs"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected.counts + " / " + c.expected.rate);
    TotalsText text = totals_text(c.shift, c.per_hour, c.since, c.today);
    EXPECT_EQ(text.shift, c.expected.shift);
    EXPECT_EQ(text.counts, c.expected.counts);
    EXPECT_EQ(text.rate, c.expected.rate);
    EXPECT_EQ(text.today, c.expected.today);
  }
}

// A window's totals are the line's figures; only the shift's clock is its own, restarted when
// the line says the shift was reset.
TEST(TotalsView, ShowsTheLinesFiguresAndRestartsTheClockOnAReset) {
  using std::chrono::minutes;
  const TotalsView::TimePoint start{};
  TotalsView view(start);
  EXPECT_EQ(view.text(start).counts, "0 boards   0 passed   0 failed");
  EXPECT_EQ(view.text(start).shift, "This shift");

  line::Totals totals;
  totals.shift_since = "2026-12-09T08:02:13+01:00";
  totals.shift = {4, 2, 2, 4, 2, 4, 0};
  totals.today = {5, 3, 2, 5, 3, 5, 0};
  const std::vector<line::Counts> ports = {{1, 1, 0, 1, 1, 1, 0}, {3, 1, 2, 3, 1, 3, 0}};
  view.show(totals, ports, 0, start + minutes(10));
  EXPECT_EQ(counted(view.port(0)), (Counted{1, 1, 0}));
  EXPECT_EQ(counted(view.port(1)), (Counted{3, 1, 2}));
  EXPECT_EQ(counted(view.port(2)), Counted{});
  EXPECT_EQ(counted(view.shift()), (Counted{4, 2, 2}));
  TotalsText text = view.text(start + minutes(30));
  EXPECT_EQ(text.shift, "This shift, since 08:02");
  EXPECT_EQ(text.rate, "50% passed   8 per hour") << "the clock runs from the view's start";
  EXPECT_EQ(text.today, "Today: 5 boards: 3 passed, 2 failed");

  // The line's Reset: its counts are nothing, and the rate's clock starts again.
  totals.shift = {};
  totals.shift_since = "2026-12-09T09:02:00+01:00";
  totals.shift.boards = totals.shift.passed = totals.shift.attempts = totals.shift.first_attempts =
      totals.shift.passed_first = 1;
  view.show(totals, std::vector<line::Counts>(2), 1, start + minutes(60));
  text = view.text(start + minutes(90));
  EXPECT_EQ(text.shift, "This shift, since 09:02");
  EXPECT_EQ(text.rate, "100% passed   2 per hour");
  EXPECT_EQ(counted(view.port(1)), Counted{});
  // The same reset seen again does not move the clock.
  view.show(totals, std::vector<line::Counts>(2), 1, start + minutes(80));
  EXPECT_EQ(view.text(start + minutes(90)).rate, "100% passed   2 per hour");
}

TEST(TotalsView, ClockOfAnIsoTime) {
  struct Case {
    const char* time;
    const char* clock;
  };
  for (const Case& c : {Case{"2026-12-09T08:02:13+01:00", "08:02"}, Case{"2026-12-09T23:59:59Z", "23:59"},
                        Case{"2026-12-09", ""}, Case{"2026-12-09T8:02:13", ""}, Case{"2026-12-09 08:02", ""},
                        Case{"", ""}, Case{"time", ""}})
    EXPECT_EQ(clock_of(c.time), c.clock) << c.time;
}

}  // namespace
}  // namespace skav::present

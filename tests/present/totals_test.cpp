// The shift's and the day's totals: arithmetic, and today's boards read from the records file.

#include <gtest/gtest.h>

#include <array>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.h"
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

TEST(Totals, RecordDateIsTheTimesLocalDate) {
  EXPECT_EQ(record_date("2026-12-09T06:26:13+01:00"), "2026-12-09");
  EXPECT_EQ(record_date("2026-12-09"), "2026-12-09");
  EXPECT_EQ(record_date("time"), "");
  EXPECT_EQ(record_date("2026/12/09T06"), "");
  EXPECT_EQ(record_date("20x6-12-09T06"), "");
  EXPECT_EQ(record_date(today() + "T00:00:00+00:00"), today());
}

class DayTotalsTest : public ::testing::Test {
 protected:
  std::filesystem::path write(const std::string& text) {
    std::filesystem::path file = dir_ / "skav-records.csv";
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    return file;
  }
  test::TempDir dir_;
};

TEST_F(DayTotalsTest, CountsOnlyTheDaysRecordsByTheHeadersColumns) {
  std::filesystem::path file = write(
      station::records_header() +
      "2026-12-08T23:59:59+01:00,eth0,02:00:00:00:00:01,02:00:00:0A:00:00,pass,pass,pass,pass,pass,pass,9.000,1,Ethernet\n"
      "2026-12-09T06:00:01+01:00,eth0,02:00:00:00:00:02,02:00:00:0A:00:01,pass,pass,pass,pass,pass,pass,9.000,1,Ethernet\n"
      // An adapter name with a comma and a quote is quoted.
      "2026-12-09T06:01:00+01:00,\"PCI \"\"A\"\", port 1\",02:00:00:00:00:03,,timeout,not-run,not-run,"
      "not-run,not-run,timeout,30.000,1,\n"
      "2026-12-09T06:02:00+01:00,eth0,02:00:00:00:00:04,02:00:00:0A:00:02,pass,fail,pass,pass,pass,fail,8.1,1,\r\n"
      // A line cut short by a crash, and one of the wrong width, count nothing.
      "2026-12-09T06:03:00+01:00,eth0,02:00\n"
      "2026-12-09T06:04:00+01:00,a,b,c,d,e,f,g,h,pass,1,1,x,extra\n");
  DayTotals day(file, "2026-12-09");
  EXPECT_EQ(counted(day.totals()), (Counted{3, 1, 2}));
  EXPECT_EQ(counted(DayTotals(file, "2026-12-08").totals()), (Counted{1, 1, 0}));
  EXPECT_EQ(counted(DayTotals(file, "2026-12-10").totals()), Counted{});
}

TEST_F(DayTotalsTest, AFileBegunBeforeTheLastColumnCountsTheRowsWrittenSince) {
  std::string old_header = station::records_header();
  old_header.erase(old_header.rfind(','));
  std::filesystem::path file = write(
      old_header + "\n" +
      "2026-12-09T06:00:01+01:00,eth0,02:00:00:00:00:02,,pass,pass,pass,pass,pass,pass,9.000\n"
      "2026-12-09T06:01:00+01:00,eth0,02:00:00:00:00:03,,pass,fail,pass,pass,pass,fail,8.000,1,eth0\n"
      // Wider than any record this station writes: not a record.
      "2026-12-09T06:02:00+01:00,eth0,02:00:00:00:00:04,,pass,pass,pass,pass,pass,pass,1.0,1,eth0,x\n");
  EXPECT_EQ(counted(DayTotals(file, "2026-12-09").totals()), (Counted{2, 1, 1}));
}

TEST_F(DayTotalsTest, ColumnsAreFoundByNameInAnyOrder) {
  std::filesystem::path file = write("verdict,seconds,time\npass,1.0,2026-12-09T06:00:00Z\nfail,2.0,2026-12-09T07:00:00Z\n");
  EXPECT_EQ(counted(DayTotals(file, "2026-12-09").totals()), (Counted{2, 1, 1}));
  EXPECT_EQ(counted(DayTotals(write("no,header,here\n1,2,3\n"), "2026-12-09").totals()), Counted{});
  EXPECT_EQ(counted(DayTotals(write(""), "2026-12-09").totals()), Counted{});
  EXPECT_EQ(counted(DayTotals(dir_ / "missing.csv", "2026-12-09").totals()), Counted{});
}

TEST_F(DayTotalsTest, BoardsAddToTheDayAndANewDayStartsAfresh) {
  DayTotals day(write(station::records_header()), "2026-12-09");
  station::BoardRecord record;
  record.time = "2026-12-09T23:59:00+01:00";
  record.overall = Verdict::kPass;
  day.add(record);
  record.overall = Verdict::kTimeout;
  day.add(record);
  EXPECT_EQ(counted(day.totals()), (Counted{2, 1, 1}));
  record.time = "2026-12-10T00:00:30+01:00";
  day.add(record);
  EXPECT_EQ(day.date(), "2026-12-10");
  EXPECT_EQ(counted(day.totals()), (Counted{1, 0, 1}));
}

station::BoardRecord board(Verdict verdict, std::string time = "2026-12-09T10:00:00+01:00") {
  station::BoardRecord record;
  record.time = std::move(time);
  record.overall = verdict;
  return record;
}

// The model both windows render: ports, shift, today, the rate over the shift's time, Reset.
TEST_F(DayTotalsTest, TheModelCountsPortsShiftAndTodayAndResetsTheShiftOnly) {
  using std::chrono::minutes;
  const TotalsModel::TimePoint start{};
  TotalsModel model(start, "08:02");
  EXPECT_EQ(model.port_count(), 1u);
  model.set_records_file(
      write(station::records_header() +
            "2026-12-09T06:00:01+01:00,eth0,02:00:00:00:00:02,02:00:00:0A:00:01,pass,pass,pass,pass,pass,pass,9.000,1,eth0\n"),
      "2026-12-09");
  model.set_port_count(3);
  model.set_port_count(2);  // never fewer
  EXPECT_EQ(model.port_count(), 3u);

  struct Step {
    std::size_t port;
    Verdict verdict;
  };
  for (const Step& step : std::vector<Step>{{0, Verdict::kPass}, {2, Verdict::kFail}, {2, Verdict::kPass}, {1, Verdict::kTimeout}})
    model.add(step.port, board(step.verdict));
  EXPECT_EQ(counted(model.port(0)), (Counted{1, 1, 0}));
  EXPECT_EQ(counted(model.port(1)), (Counted{1, 0, 1}));
  EXPECT_EQ(counted(model.port(2)), (Counted{2, 1, 1}));
  EXPECT_EQ(counted(model.port(7)), Counted{});
  EXPECT_EQ(counted(model.shift()), (Counted{4, 2, 2}));
  EXPECT_EQ(counted(model.today()), (Counted{5, 3, 2}));

  TotalsText text = model.text(start + minutes(30));
  EXPECT_EQ(text.shift, "This shift, since 08:02");
  EXPECT_EQ(text.counts, "4 boards   2 passed   2 failed");
  EXPECT_EQ(text.rate, "50% passed   8 per hour");
  EXPECT_EQ(text.today, "Today: 5 boards: 3 passed, 2 failed");
  // The first minute gives no rate.
  EXPECT_EQ(model.text(start + std::chrono::seconds(59)).rate, "50% passed   \xE2\x80\x94 per hour");

  model.reset_shift(start + minutes(60), "09:02");
  EXPECT_EQ(counted(model.shift()), Counted{});
  EXPECT_EQ(counted(model.port(2)), Counted{});
  EXPECT_EQ(counted(model.today()), (Counted{5, 3, 2}));
  model.add(1, board(Verdict::kPass));
  text = model.text(start + minutes(90));
  EXPECT_EQ(text.shift, "This shift, since 09:02");
  EXPECT_EQ(text.rate, "100% passed   2 per hour");  // one board in the half hour since Reset
  EXPECT_EQ(counted(model.today()), (Counted{6, 4, 2}));

  // A port beyond the count grows the model rather than being lost.
  model.add(5, board(Verdict::kFail));
  EXPECT_EQ(model.port_count(), 6u);
  EXPECT_EQ(counted(model.shift()), (Counted{2, 1, 1}));
}

TEST(TotalsModel, WithoutRecordsTodayCountsNothing) {
  TotalsModel model(TotalsModel::TimePoint{}, "");
  model.add(0, board(Verdict::kPass));
  EXPECT_EQ(counted(model.today()), Counted{});
  EXPECT_EQ(model.text(TotalsModel::TimePoint{}).shift, "This shift");
  const std::string clock = clock_text();
  ASSERT_EQ(clock.size(), 5u);
  EXPECT_EQ(clock[2], ':');
}

}  // namespace
}  // namespace skav::present

namespace skav::present {
namespace {

station::BoardRecord run_of(station::Verdict overall, int attempt) {
  station::BoardRecord record;
  record.time = "2026-12-09T08:00:00+01:00";
  record.written_mac = "02:00:00:0A:00:00";
  record.overall = overall;
  record.attempt = attempt;
  return record;
}

TEST(TotalsModel, AReTestOnAnotherPortIsOneBoardWithTwoRunsAndItsFirstPassYieldShows) {
  const auto start = std::chrono::steady_clock::time_point{};
  TotalsModel model(start, "08:00", 2);
  model.add(0, run_of(station::Verdict::kFail, 1));
  model.add(1, run_of(station::Verdict::kPass, 2));
  EXPECT_EQ(model.shift().boards, 1);
  EXPECT_EQ(model.shift().passed, 1);
  EXPECT_EQ(model.shift().failed, 0);
  EXPECT_EQ(model.shift().attempts, 2);
  TotalsText text = model.text(start + std::chrono::minutes(30));
  EXPECT_EQ(text.counts, "1 board   1 passed   0 failed   2 runs");
  EXPECT_EQ(text.rate, "100% passed   0% first pass   2 per hour");
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

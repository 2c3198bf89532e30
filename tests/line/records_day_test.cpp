// Today's boards as the line reads them from the production records file: which lines are
// records, which columns count, and a record's date.

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "core/station/records.h"
#include "line/totals.h"
#include "support/temp_dir.h"

namespace skav::line {
namespace {

// Boards, passed, failed.
using Counted = std::array<int, 3>;
Counted counted(const Tally& tally) {
  return {tally.counts().boards, tally.counts().passed, tally.counts().failed};
}

class RecordsDay : public ::testing::Test {
 protected:
  std::filesystem::path write(const std::string& text) {
    std::filesystem::path file = dir_ / "skav-records.csv";
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    return file;
  }
  test::TempDir dir_;
};

TEST_F(RecordsDay, CountsOnlyTheDaysRecordsByTheHeadersColumns) {
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
  // Date, boards counted.
  const std::vector<std::pair<std::string, Counted>> days = {
      {"2026-12-09", {3, 1, 2}}, {"2026-12-08", {1, 1, 0}}, {"2026-12-10", {0, 0, 0}}};
  for (const auto& [date, expected] : days) EXPECT_EQ(counted(read_day(file, date)), expected) << date;
}

TEST_F(RecordsDay, AFileBegunBeforeTheLastColumnCountsTheRowsWrittenSince) {
  std::string old_header = station::records_header();
  old_header.erase(old_header.rfind(','));
  std::filesystem::path file = write(
      old_header + "\n" +
      "2026-12-09T06:00:01+01:00,eth0,02:00:00:00:00:02,,pass,pass,pass,pass,pass,pass,9.000\n"
      "2026-12-09T06:01:00+01:00,eth0,02:00:00:00:00:03,,pass,fail,pass,pass,pass,fail,8.000,1,eth0\n"
      // Wider than any record this station writes: not a record.
      "2026-12-09T06:02:00+01:00,eth0,02:00:00:00:00:04,,pass,pass,pass,pass,pass,pass,1.0,1,eth0,x\n");
  EXPECT_EQ(counted(read_day(file, "2026-12-09")), (Counted{2, 1, 1}));
}

TEST_F(RecordsDay, ColumnsAreFoundByNameInAnyOrderAndAnythingElseCountsNothing) {
  EXPECT_EQ(counted(read_day(write("verdict,seconds,time\npass,1.0,2026-12-09T06:00:00Z\nfail,2.0,2026-12-09T07:00:00Z\n"),
                             "2026-12-09")),
            (Counted{2, 1, 1}));
  for (const char* text : {"no,header,here\n1,2,3\n", ""})
    EXPECT_EQ(counted(read_day(write(text), "2026-12-09")), Counted{}) << text;
  EXPECT_EQ(counted(read_day(dir_ / "missing.csv", "2026-12-09")), Counted{});
}

TEST(RecordDate, IsTheTimesLocalDate) {
  struct Case {
    const char* time;
    const char* date;
  };
  for (const Case& c : {Case{"2026-12-09T06:26:13+01:00", "2026-12-09"}, Case{"2026-12-09", "2026-12-09"},
                        Case{"time", ""}, Case{"2026/12/09T06", ""}, Case{"20x6-12-09T06", ""}})
    EXPECT_EQ(date_of(c.time), c.date) << c.time;
}

}  // namespace
}  // namespace skav::line

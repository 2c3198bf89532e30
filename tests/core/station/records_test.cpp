#include "core/station/records.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "support/temp_dir.h"

namespace skav::station {
namespace {

using test::read_file;

using transfer::Verdict;

BoardRecord sample() {
  BoardRecord r;
  r.time = "2026-12-09T06:26:13+00:00";
  r.adapter = "eth0";
  r.board_mac = "02:00:00:00:00:01";
  r.written_mac = "00:11:22:33:44:55";
  r.environment = Verdict::kPass;
  r.kernel = Verdict::kFail;
  r.diag = Verdict::kPass;
  r.overall = overall_verdict(r);
  r.seconds = 1.5;
  return r;
}

TEST(Records, FileStartsWithTheHeaderAndGetsOneLinePerBoard) {
  test::TempDir dir;
  std::string error;
  ASSERT_TRUE(append_record(dir / kRecordsFile, sample(), error)) << error;
  ASSERT_TRUE(append_record(dir / kRecordsFile, sample(), error)) << error;
  std::string line =
      "2026-12-09T06:26:13+00:00,eth0,02:00:00:00:00:01,00:11:22:33:44:55,pass,fail,skipped,"
      "skipped,pass,fail,1.500\n";
  EXPECT_EQ(read_file(dir / kRecordsFile), std::string(kRecordsHeader) + line + line);
}

TEST(Records, AnAdapterNameWithACommaIsQuoted) {
  BoardRecord r = sample();
  r.adapter = "USB \"fast\", port 2";
  EXPECT_NE(format_record(r).find(",\"USB \"\"fast\"\", port 2\",02:00"), std::string::npos);
}

TEST(Records, UnwritableFileIsReportedNotIgnored) {
  test::TempDir dir;
  std::string error;
  EXPECT_FALSE(append_record(dir / "missing-folder" / kRecordsFile, sample(), error));
  EXPECT_NE(error.find("missing-folder"), std::string::npos);
}

TEST(Records, OverallVerdictTakesTheWorstStep) {
  BoardRecord r;
  EXPECT_EQ(overall_verdict(r), Verdict::kSkipped);
  r.kernel = Verdict::kPass;
  EXPECT_EQ(overall_verdict(r), Verdict::kPass);
  r.uboot = Verdict::kFail;
  EXPECT_EQ(overall_verdict(r), Verdict::kFail);
  r.diag = Verdict::kTimeout;
  EXPECT_EQ(overall_verdict(r), Verdict::kTimeout);
}

TEST(Records, TimeIsIso8601WithAZoneOffset) {
  EXPECT_TRUE(std::regex_match(iso8601_now(),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")));
}

}  // namespace
}  // namespace skav::station

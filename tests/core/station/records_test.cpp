#include "core/station/records.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "support/start_gate.h"
#include "support/temp_dir.h"

namespace skav::station {
namespace {

using test::read_file;

BoardRecord sample() {
  BoardRecord r;
  r.time = "2026-12-09T06:26:13+00:00";
  r.adapter = "eth0";
  r.board_mac = "02:00:00:00:00:01";
  r.written_mac = "00:11:22:33:44:55";
  r.step(StepSlot::kEnvironment) = Verdict::kPass;
  r.step(StepSlot::kKernel) = Verdict::kFail;
  r.step(StepSlot::kDiag) = Verdict::kPass;
  r.overall = overall_verdict(r);
  r.seconds = 1.5;
  r.adapter_name = "Ethernet, 2";
  return r;
}

TEST(Records, FileStartsWithTheHeaderAndGetsOneLinePerBoard) {
  test::TempDir dir;
  Status first = append_record(dir / kRecordsFile, sample());
  ASSERT_TRUE(first.ok()) << first.message();
  ASSERT_TRUE(append_record(dir / kRecordsFile, sample()).ok());
  std::string line =
      "2026-12-09T06:26:13+00:00,eth0,02:00:00:00:00:01,00:11:22:33:44:55,pass,fail,skipped,"
      "skipped,pass,fail,1.500,\"Ethernet, 2\"\n";
  EXPECT_EQ(read_file(dir / kRecordsFile),
            "time,adapter,board_mac,written_mac,environment,kernel,uboot,filesystem,diag,verdict,"
            "seconds,adapter_name\n" + line + line);
}

// Ports (or stations sharing the folder) that finish their first boards at once: the new file
// gets one header, and every board its line.
TEST(Records, BoardsFinishingAtOnceOnANewFileGiveOneHeaderAndEveryLine) {
  constexpr int kRounds = 40;
  constexpr int kWriters = 4;
  test::TempDir dir;
  for (int round = 0; round < kRounds; ++round) {
    std::filesystem::path file = dir / ("records-" + std::to_string(round) + ".csv");
    test::StartGate start(kWriters);
    std::vector<std::thread> writers;
    for (int i = 0; i < kWriters; ++i)
      writers.emplace_back([&] {
        start.arrive_and_wait();
        EXPECT_TRUE(append_record(file, sample()).ok());
      });
    for (std::thread& writer : writers) writer.join();
    std::string text = read_file(file);
    std::string expected = records_header();
    for (int i = 0; i < kWriters; ++i) expected += format_record(sample());
    ASSERT_EQ(text, expected) << "round " << round;
  }
}

TEST(Records, AnAdapterNameWithACommaIsQuoted) {
  BoardRecord r = sample();
  r.adapter = "USB \"fast\", port 2";
  EXPECT_NE(format_record(r).find(",\"USB \"\"fast\"\", port 2\",02:00"), std::string::npos);
}

TEST(Records, UnwritableFileIsReportedNotIgnored) {
  test::TempDir dir;
  Status written = append_record(dir / "missing-folder" / kRecordsFile, sample());
  EXPECT_FALSE(written.ok());
  EXPECT_NE(written.message().find("missing-folder"), std::string::npos);
}

// Pass only when every configured step passed; a step the run never reached is not a pass.
TEST(Records, OverallVerdictPassesOnlyWhenEveryConfiguredStepPassed) {
  struct Case {
    std::array<Verdict, kStepSlots> steps;
    Verdict overall;
  };
  using V = Verdict;
  const Case cases[] = {
      {{V::kSkipped, V::kSkipped, V::kSkipped, V::kSkipped, V::kSkipped}, V::kSkipped},
      {{V::kSkipped, V::kPass, V::kSkipped, V::kSkipped, V::kSkipped}, V::kPass},
      {{V::kPass, V::kPass, V::kFail, V::kPass, V::kPass}, V::kFail},
      {{V::kPass, V::kPass, V::kNotRun, V::kPass, V::kPass}, V::kFail},
      {{V::kPass, V::kTimeout, V::kNotRun, V::kNotRun, V::kNotRun}, V::kTimeout},
      {{V::kFail, V::kStopped, V::kNotRun, V::kNotRun, V::kNotRun}, V::kStopped},
      {{V::kPass, V::kAdapterLost, V::kNotRun, V::kNotRun, V::kNotRun}, V::kAdapterLost},
  };
  for (const Case& c : cases) {
    BoardRecord r;
    r.steps = c.steps;
    EXPECT_EQ(verdict_name(overall_verdict(r)), std::string(verdict_name(c.overall)));
  }
}

TEST(Records, TheColumnTableGivesTheHeaderAndTheValuesInOneOrder) {
  std::string header;
  for (const RecordColumn& column : kRecordColumns) header += std::string(header.empty() ? "" : ",") + column.header;
  EXPECT_EQ(header + "\n", records_header());
  BoardRecord r = sample();
  std::vector<std::string> values = record_values(r);
  auto columns = record_columns(r);
  ASSERT_EQ(values.size(), kRecordColumnCount);
  ASSERT_EQ(columns.size(), kRecordColumnCount);
  for (std::size_t i = 0; i < kRecordColumnCount; ++i) {
    EXPECT_EQ(columns[i].first, kRecordColumns[i].name);
    EXPECT_EQ(columns[i].second, values[i]) << kRecordColumns[i].name;
  }
  EXPECT_EQ(values[1], "eth0");
  EXPECT_EQ(values[5], "fail") << "the kernel step";
  EXPECT_EQ(values[kFirstRecordColumns - 1], "1.500");
  EXPECT_EQ(values.back(), "Ethernet, 2") << "a later column goes at the end";
  EXPECT_EQ(kRecordColumns.back().since, 4);
  EXPECT_NE(format_record(r).find(",\"Ethernet, 2\"\n"), std::string::npos) << format_record(r);
}

TEST(Records, ARecordReadBackFromItsValuesIsTheSameRecord) {
  struct Case {
    std::vector<std::string> values;
    bool read;
  } cases[] = {
      {record_values(sample()), true},
      {{"t", "eth1", "", "", "pass", "not-run", "timeout", "stopped", "adapter-lost", "timeout", "0.000"}, true},
      {{"t", "eth1", "", "", "pass", "pass", "pass", "pass", "pass", "great", "1.000"}, false},  // a verdict not known
      {{"t", "eth1", "", "", "pass", "pass", "pass", "pass", "pass", "pass", "soon"}, false},
      {{"t", "eth1", "", "", "pass", "pass", "pass", "pass", "pass", "pass", ""}, false},
      {{"t", "eth1", "", ""}, false},
      {{"t", "eth1", "", "", "pass", "pass", "pass", "pass", "pass", "pass", "1.000", "Ethernet"}, true},
  };
  for (const Case& c : cases) {
    BoardRecord r;
    EXPECT_EQ(parse_record(c.values, r), c.read) << c.values.back();
    if (c.read) {
      // A record written before the friendly name's column reads with it empty.
      std::vector<std::string> values = c.values;
      if (values.size() == kFirstRecordColumns) values.emplace_back();
      EXPECT_EQ(record_values(r), values);
    }
  }
}

TEST(Records, TimeIsIso8601WithAZoneOffset) {
  EXPECT_TRUE(std::regex_match(iso8601_now(),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")));
}

}  // namespace
}  // namespace skav::station

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
      "skipped,pass,fail,1.500,1,\"Ethernet, 2\"\n";
  EXPECT_EQ(read_file(dir / kRecordsFile),
            "time,adapter,board_mac,written_mac,environment,kernel,uboot,filesystem,diag,verdict,"
            "seconds,attempt,adapter_name\n" + line + line);
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
  EXPECT_EQ(values[kFirstRecordColumns], "1") << "a first attempt";
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
      {{"t", "eth1", "", "", "pass", "pass", "pass", "pass", "pass", "pass", "1.000", "3"}, true},
      {{"t", "eth1", "", "", "pass", "pass", "pass", "pass", "pass", "pass", "1.000", "x"}, false},
      {{"t", "eth1", "", "", "pass", "pass", "pass", "pass", "pass", "pass", "1.000", "0"}, false},
      {{"t", "eth1", "", "", "pass", "pass", "pass", "pass", "pass", "pass", "1.000", "2", "Ethernet"}, true},
  };
  for (const Case& c : cases) {
    BoardRecord r;
    EXPECT_EQ(parse_record(c.values, r), c.read) << c.values.back();
    if (c.read) {
      // A record written before the later columns reads as a first attempt, its friendly name
      // empty.
      std::vector<std::string> values = record_values(r);
      if (c.values.size() < values.size()) {
        EXPECT_EQ(values[kFirstRecordColumns], c.values.size() > kFirstRecordColumns ? c.values[kFirstRecordColumns] : "1");
        EXPECT_EQ(values.back(), "");
      }
      values.resize(c.values.size());
      EXPECT_EQ(values, c.values);
    }
  }
}

TEST(Records, AnAddressesHistoryComesFromTheRecordsByTheirHeadersNames) {
  test::TempDir dir;
  BoardRecord failed = sample();
  failed.written_mac = "02:00:00:0A:00:00";
  failed.overall = Verdict::kFail;
  BoardRecord passed = failed;
  passed.overall = Verdict::kPass;
  passed.attempt = 2;
  BoardRecord other = failed;
  other.written_mac = "02:00:00:0A:00:01";
  // The first line as a station wrote it before the attempt column existed.
  std::string header = records_header();
  std::string old_line = format_record(failed);
  const std::string old =
      header.substr(0, header.rfind(",attempt")) + "\n" + old_line.substr(0, old_line.rfind(',')) + "\n";
  MacDigits::Digits address{};
  ASSERT_TRUE(MacDigits::parse("0200000a0000", address));
  struct Case {
    const char* name;
    std::string text;
    settings::BoardHistory history;
  };
  const Case cases[] = {
      {"no file", "", {0, false}},
      {"a failure before attempts were counted", old, {1, false}},
      {"failed, then passed", records_header() + format_record(failed) + format_record(passed),
       {2, true}},
      {"another board", records_header() + format_record(other), {0, false}},
      {"passed, then failed again", records_header() + format_record(passed) + format_record(failed),
       {3, false}},
  };
  for (const Case& c : cases) {
    auto file = dir.path() / "records.csv";
    std::filesystem::remove(file);
    if (!c.text.empty()) dir.write("records.csv", c.text);
    settings::BoardHistory history = address_history(file, address);
    EXPECT_EQ(history.runs, c.history.runs) << c.name;
    EXPECT_EQ(history.last_passed, c.history.last_passed) << c.name;
  }
}

TEST(Records, TimeIsIso8601WithAZoneOffset) {
  EXPECT_TRUE(std::regex_match(iso8601_now(),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")));
}

}  // namespace
}  // namespace skav::station

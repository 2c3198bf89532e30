// How a run of the line ends for whoever started it: the exit code from what the boards did
// and what state the station ended in.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "line/run_end.h"

namespace skav::line {
namespace {

using station::Verdict;

struct ExitCase {
  const char* name;
  RunEnd end;
  ExitCode code;
};
void PrintTo(const ExitCase& c, std::ostream* os) { *os << c.name; }

class ExitCodeRule : public ::testing::TestWithParam<ExitCase> {};

TEST_P(ExitCodeRule, MapsTheRunsEndToItsCode) { EXPECT_EQ(exit_code(GetParam().end), GetParam().code); }

RunEnd failed(int boards) {
  RunEnd end;
  end.boards_failed = boards;
  return end;
}

template <typename Field>
RunEnd unable(Field field, int boards_failed = 0) {
  RunEnd end = failed(boards_failed);
  end.*field = true;
  return end;
}

const ExitCase kExitCases[] = {
    {"NothingWrong", RunEnd{}, ExitCode::kAllPassed},
    {"ABoardFailed", failed(1), ExitCode::kBoardFailed},
    {"ManyBoardsFailed", failed(7), ExitCode::kBoardFailed},
    {"StationError", unable(&RunEnd::station_fault), ExitCode::kStationUnable},
    {"NoAdapter", unable(&RunEnd::adapter_missing), ExitCode::kStationUnable},
    {"NoUsablePool", unable(&RunEnd::pool_unusable), ExitCode::kStationUnable},
    {"RecordsUnwritten", unable(&RunEnd::records_unwritten), ExitCode::kStationUnable},
    {"StationUnableOutweighsFailedBoards", unable(&RunEnd::pool_unusable, 3), ExitCode::kStationUnable},
};

INSTANTIATE_TEST_SUITE_P(Ends, ExitCodeRule, ::testing::ValuesIn(kExitCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(ExitCodeRule, TheCodesAreTheProcessesExitStatus) {
  EXPECT_EQ(static_cast<int>(ExitCode::kAllPassed), 0);
  EXPECT_EQ(static_cast<int>(ExitCode::kBoardFailed), 1);
  EXPECT_EQ(static_cast<int>(ExitCode::kStationUnable), 2);
}

TEST(RunEndBoards, FailAndTimeoutAreTheBoardsFailuresStopsAndLostAdaptersAreNot) {
  const struct {
    Verdict overall;
    int failed;
  } cases[] = {
      {Verdict::kPass, 0},    {Verdict::kFail, 1},       {Verdict::kTimeout, 1},
      {Verdict::kStopped, 0}, {Verdict::kAdapterLost, 0}, {Verdict::kSkipped, 0},
      {Verdict::kNotRun, 0},
  };
  for (const auto& c : cases) {
    RunEnd end;
    end.add_board(c.overall);
    EXPECT_EQ(end.boards_failed, c.failed) << station::verdict_name(c.overall);
  }
}

// A port of a line that has started up with its adapter open and its pool answering.
std::shared_ptr<station::StationSnapshot> working_port() {
  auto port = std::make_shared<station::StationSnapshot>();
  port->start_ups = 1;
  port->adapter_open = true;
  return port;
}

struct LastCase {
  const char* name;
  void (*change)(station::StationSnapshot&);
  RunEnd expected;
};
void PrintTo(const LastCase& c, std::ostream* os) { *os << c.name; }

class RunEndLast : public ::testing::TestWithParam<LastCase> {};

// The second of two ports ends as the case says; the first worked throughout.
TEST_P(RunEndLast, WhatThePortsLastSnapshotsSay) {
  LineSnapshot line;
  line.ports = {working_port(), working_port(), nullptr};
  auto changed = std::make_shared<station::StationSnapshot>(*line.ports[1]);
  GetParam().change(*changed);
  line.ports[1] = changed;
  RunEnd end;
  end.add_last(line);
  EXPECT_EQ(end, GetParam().expected);
}

const LastCase kLastCases[] = {
    {"Working", [](station::StationSnapshot&) {}, RunEnd{}},
    {"AdapterNotOpened",
     [](station::StationSnapshot& s) {
       s.adapter_open = false;
       s.adapter_problem = "eth7 cannot be opened";
     },
     unable(&RunEnd::adapter_missing)},
    {"BeforeItsFirstStartUpTheAdapterIsNotMissedYet",
     [](station::StationSnapshot& s) {
       s.start_ups = 0;
       s.adapter_open = false;
     },
     RunEnd{}},
    {"AnAdapterThatCameBackIsARecoveredFault",
     [](station::StationSnapshot& s) { s.adapter_problem.clear(); }, RunEnd{}},
    {"WaitingForThePool", [](station::StationSnapshot& s) { s.pool_waiting = true; },
     unable(&RunEnd::pool_unusable)},
    {"RangeUsedUp", [](station::StationSnapshot& s) { s.pool_exhausted = true; },
     unable(&RunEnd::pool_unusable)},
    {"StationError",
     [](station::StationSnapshot& s) {
       s.station_fault = station::StationFault{"images/kernel.bin is missing", "put it back or fix config.ini"};
     },
     unable(&RunEnd::station_fault)},
    // Kept records get a last try when the line stops: only what stays kept after that counts.
    {"RecordsKeptBeforeTheStop", [](station::StationSnapshot& s) { s.records_kept = 1; }, RunEnd{}},
};

INSTANTIATE_TEST_SUITE_P(Ports, RunEndLast, ::testing::ValuesIn(kLastCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(RunEndLast, TheLinesPoolStateCountsWithoutAPortSayingIt) {
  LineSnapshot line;
  line.ports = {working_port()};
  line.pool = PoolState::kExhausted;
  RunEnd end;
  end.add_last(line);
  EXPECT_TRUE(end.pool_unusable);
}

TEST(RunEndStopped, RecordsStillKeptAfterTheStopAreUnwritten) {
  RunEnd end;
  end.add_stopped(*working_port());
  EXPECT_FALSE(end.records_unwritten);
  auto kept = working_port();
  kept->records_kept = 2;
  end.add_stopped(*kept);
  EXPECT_TRUE(end.records_unwritten);
}

}  // namespace
}  // namespace skav::line

#include <gtest/gtest.h>

#include <memory>

#include "app/port_rows.h"
#include "core/mac_digits.h"

namespace skav::app {
namespace {

using station::StationSnapshot;
using station::StepView;
using station::Verdict;

std::shared_ptr<const StationSnapshot> started(void (*change)(StationSnapshot&)) {
  auto snapshot = std::make_shared<StationSnapshot>();
  snapshot->start_ups = 1;
  snapshot->adapter = "eth1";
  snapshot->adapter_open = true;
  change(*snapshot);
  return snapshot;
}

TEST(PortRows, EachPortAsItsPanelShowsIt) {
  line::LineSnapshot line;
  line.port_names = {"eth1", "eth2", "eth3", "eth4", "eth5"};
  line.ports = {
      started([](StationSnapshot&) {}),
      started([](StationSnapshot& s) {
        s.run_status = station::RunStatus::kRunning;
        s.board.emplace();
        s.board->number = 4;
        s.board->planned = true;
        s.board->address_written = true;
        MacDigits::parse("0200000A0001", s.board->address);
        StepView& kernel = s.board->steps[1];
        kernel.slot = station::StepSlot::kKernel;
        kernel.used = true;
        kernel.state = StepView::State::kRunning;
        kernel.done = 250;
        kernel.total = 1000;
        s.board->steps[0].used = true;
        s.board->steps[0].state = StepView::State::kDone;
        s.board->steps[0].verdict = Verdict::kPass;
      }),
      started([](StationSnapshot& s) {
        s.run_status = station::RunStatus::kFinished;
        s.board.emplace();
        s.board->number = 7;
        s.board->finished = true;
        s.board->overall = Verdict::kTimeout;
        s.board->failure = "kernel: no answer after 30 s";
      }),
      started([](StationSnapshot& s) {
        s.adapter_open = false;
        s.adapter_problem = "Network Interface eth4 is gone";
      }),
      nullptr,
  };
  std::vector<postgres::PortRow> rows = PortRows{}(line);
  ASSERT_EQ(rows.size(), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(rows[static_cast<std::size_t>(i)].port, i);

  EXPECT_EQ(rows[0].word, "SEARCHING");
  EXPECT_EQ(rows[0].board, 0);
  EXPECT_EQ(rows[0].adapter_health, "ok");

  EXPECT_EQ(rows[1].word, "PROGRAMMING");
  EXPECT_EQ(rows[1].board, 4);
  EXPECT_EQ(rows[1].step, "kernel");
  EXPECT_EQ(rows[1].progress, 25);
  EXPECT_EQ(rows[1].address, "02:00:00:0A:00:01");
  EXPECT_EQ(rows[1].verdict, "");

  EXPECT_EQ(rows[2].word, "TIMEOUT");
  EXPECT_EQ(rows[2].verdict, "timeout");
  EXPECT_EQ(rows[2].reason, "kernel: no answer after 30 s");
  EXPECT_EQ(rows[2].step, "");

  EXPECT_EQ(rows[3].word, "ADAPTER ERROR");
  EXPECT_EQ(rows[3].adapter_health, "Network Interface eth4 is gone");

  // A port whose station has not spoken yet.
  EXPECT_EQ(rows[4].word, "STARTING");
  EXPECT_EQ(rows[4].adapter, "eth5");
}

void finish(StationSnapshot& s, int number, Verdict verdict, const char* failure) {
  s.run_status = station::RunStatus::kFinished;
  s.board.emplace();
  s.board->number = number;
  s.board->finished = true;
  s.board->overall = verdict;
  s.board->failure = failure;
}

void program(StationSnapshot& s, int number) {
  s.run_status = station::RunStatus::kRunning;
  s.board.emplace();
  s.board->number = number;
  s.board->planned = true;
  StepView& kernel = s.board->steps[1];
  kernel.slot = station::StepSlot::kKernel;
  kernel.used = true;
  kernel.state = StepView::State::kRunning;
  kernel.done = 500;
  kernel.total = 1000;
}

// A port's last verdict outlives its board: it stays through the next board's search and
// programming, belongs to its own port only, and gives way to the next board's verdict.
TEST(PortRows, LastVerdictStaysWhileTheNextBoardPrograms) {
  struct Phase {
    const char* what;
    void (*port0)(StationSnapshot&);
    void (*port1)(StationSnapshot&);
    const char* verdict0;
    const char* reason0;
    const char* verdict1;
    const char* word0;
  };
  const Phase phases[] = {
      {"nothing finished yet", [](StationSnapshot& s) { program(s, 1); }, [](StationSnapshot&) {},
       "", "", "", "PROGRAMMING"},
      {"board 1 fails", [](StationSnapshot& s) { finish(s, 1, Verdict::kFail, "kernel: read-back differs"); },
       [](StationSnapshot&) {}, "fail", "kernel: read-back differs", "", "FAIL"},
      {"searching for board 2", [](StationSnapshot&) {}, [](StationSnapshot&) {},
       "fail", "kernel: read-back differs", "", "SEARCHING"},
      {"board 2 programs", [](StationSnapshot& s) { program(s, 2); }, [](StationSnapshot&) {},
       "fail", "kernel: read-back differs", "", "PROGRAMMING"},
      {"board 2 passes", [](StationSnapshot& s) { finish(s, 2, Verdict::kPass, ""); },
       [](StationSnapshot& s) { program(s, 1); }, "pass", "", "", "PASS"},
      {"board 3 programs", [](StationSnapshot& s) { program(s, 3); },
       [](StationSnapshot& s) { finish(s, 1, Verdict::kTimeout, "kernel: no answer after 30 s"); },
       "pass", "", "timeout", "PROGRAMMING"},
  };
  PortRows rows_of;
  for (const Phase& phase : phases) {
    SCOPED_TRACE(phase.what);
    line::LineSnapshot line;
    line.port_names = {"eth1", "eth2"};
    line.ports = {started(phase.port0), started(phase.port1)};
    const std::vector<postgres::PortRow> rows = rows_of(line);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].word, phase.word0);
    EXPECT_EQ(rows[0].verdict, phase.verdict0);
    EXPECT_EQ(rows[0].reason, phase.reason0);
    EXPECT_EQ(rows[1].verdict, phase.verdict1);
  }
}

}  // namespace
}  // namespace skav::app

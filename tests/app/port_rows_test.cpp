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
  std::vector<postgres::PortRow> rows = port_rows(line);
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

}  // namespace
}  // namespace skav::app

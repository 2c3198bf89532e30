// `skav run`'s lines beside the log for a mixed series of simulated boards: one per board, the
// live line only on a terminal, the totals at the end.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "frontends/cli/run_summary.h"
#include "frontends/cli/terminal.h"
#include "support/captured_stream.h"
#include "support/rig.h"
#include "support/screen.h"

namespace skav::cli {
namespace {

using Captured = test::CapturedStream;

// The lines as a terminal shows them (what follows the last carriage return and the erase to
// the line's end), those that start with a board's number.
std::vector<std::string> board_lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::string line : test::split_lines(text)) {
    if (std::size_t cr = line.rfind('\r'); cr != std::string::npos) line.erase(0, cr + 1);
    if (line.starts_with("\033[K")) line.erase(0, 3);
    if (!line.empty() && line[0] >= '1' && line[0] <= '9') lines.push_back(line);
  }
  return lines;
}

class RunSummaryTest : public ::testing::TestWithParam<bool> {};

// Pass, a read-back that differs, a board that falls silent, pass.
TEST_P(RunSummaryTest, OneLinePerBoardThenTheTotals) {
  const bool terminal = GetParam();
  Captured out;
  RunSummary summary(out.file(), terminal);
  test::RigOptions options;
  options.events = &summary;
  test::StationRig rig(std::move(options));
  {
    // A filesystem image large enough for its progress to be seen.
    std::ofstream image(rig.dir / "images" / "rootfs.bin", std::ios::binary | std::ios::trunc);
    image << std::string(3'000'000, '\x5a');
  }
  sim::BoardOptions good, corrupt, silent;
  corrupt.faults.corrupt_read = 4;  // the filesystem's read-back
  silent.faults.silent_phase = sim::SilentPhase::kMidData;
  silent.faults.silent_exchange = 3;  // the kernel image
  int done = 0;
  for (const sim::BoardOptions* board : {&good, &corrupt, &silent, &good}) {
    rig.plug(*board);
    ASSERT_TRUE(rig.until_boards_done(++done)) << out.text();
  }
  rig.station->stop();
  summary.finish();

  std::string text = out.text();
  std::vector<std::string> lines = board_lines(text);
  ASSERT_EQ(lines.size(), 5u) << text;
  auto expect_line = [&](std::size_t i, const std::string& head, const std::string& tail) {
    EXPECT_EQ(lines[i].rfind(head, 0), 0u) << lines[i];
    EXPECT_TRUE(lines[i].ends_with(tail)) << lines[i];
    // The seconds between the address and the failed steps.
    EXPECT_NE(lines[i].find(" s"), std::string::npos) << lines[i];
  };
  expect_line(0, "1 PASS " + test::written_address(0) + " ", " s");
  expect_line(1, "2 FAIL " + test::written_address(1) + " ", " s filesystem: read-back differs");
  expect_line(2, "3 TIMEOUT " + test::written_address(2) + " ", " s kernel: no answer after 30 s");
  expect_line(3, "4 PASS " + test::written_address(3) + " ", " s");
  EXPECT_EQ(lines[4], "4 boards: 2 passed, 2 failed");
  EXPECT_EQ(summary.totals(), (present::Totals{4, 2, 2, 4, 0, 2}));
  EXPECT_EQ(summary.run_end().boards_failed, 2) << "the read-back that differs and the silent board";
  EXPECT_EQ(text.find("ADAPTER ERROR"), std::string::npos) << "the stop closed the link";

  // The live line is rewritten in place on a terminal and never written elsewhere.
  bool live = text.find("\rboard 1 filesystem ") != std::string::npos;
  EXPECT_EQ(live, terminal) << text;
  EXPECT_EQ(text.find('\r') != std::string::npos, terminal);
}

INSTANTIATE_TEST_SUITE_P(Streams, RunSummaryTest, ::testing::Bool(),
                         [](const auto& param_info) { return param_info.param ? "Terminal" : "File"; });

// A board whose kernel's data moves: the snapshot that draws the live line.
std::shared_ptr<station::StationSnapshot> moving_kernel(int number) {
  auto snapshot = std::make_shared<station::StationSnapshot>();
  station::BoardView& board = snapshot->board.emplace();
  board.number = number;
  board.planned = true;
  board.steps[1].slot = station::StepSlot::kKernel;
  board.steps[1].used = true;
  board.steps[1].state = station::StepView::State::kRunning;
  board.steps[1].done = 50;
  board.steps[1].total = 200;
  return snapshot;
}

// The log and the summary on one terminal (one stream stands for both): the live line is taken
// away before the log writes, and is never drawn over the log's unfinished row.
TEST(RunSummaryLive, TheLiveLineGivesWayToTheLogAndNeverHidesItsUnfinishedRow) {
  Captured terminal;
  RunSummary summary(terminal.file(), true);
  StdoutLog log(terminal.file());
  log.share(&summary.terminal());
  summary.on_snapshot(moving_kernel(5));
  EXPECT_EQ(test::screen_rows(terminal.text()), std::vector<std::string>{"board 5 kernel  25% 50 of 200 bytes"});
  log.append("Success\r\n");
  log.append("Find the UBOOT CONFIG file.....");
  summary.on_snapshot(moving_kernel(5));  // redrawn while the log's row is unfinished
  log.append("Success\r\n");
  summary.on_snapshot(moving_kernel(6));
  EXPECT_EQ(test::screen_rows(terminal.text()),
            (std::vector<std::string>{"Success", "Find the UBOOT CONFIG file.....Success",
                                      "board 6 kernel  25% 50 of 200 bytes"}))
      << terminal.text();
}

TEST(RunSummaryAdapter, AnAdapterThatCannotBeOpenedIsSaidOnce) {
  Captured out;
  RunSummary summary(out.file(), false);
  auto snapshot = std::make_shared<station::StationSnapshot>();
  snapshot->start_ups = 1;
  snapshot->adapter_problem = "eth7 cannot be opened: No such device";
  summary.on_snapshot(snapshot);
  summary.on_snapshot(snapshot);
  auto fixed = std::make_shared<station::StationSnapshot>(*snapshot);
  fixed->adapter_open = true;
  fixed->adapter_problem.clear();
  summary.on_snapshot(fixed);
  EXPECT_EQ(out.text(), "ADAPTER ERROR eth7 cannot be opened: No such device\n");
}

TEST(RunSummaryPool, AStationWaitingForItsPoolIsSaidOnceAndSoIsItsGoingOn) {
  Captured out;
  RunSummary summary(out.file(), false);
  auto snapshot = std::make_shared<station::StationSnapshot>();
  snapshot->start_ups = 1;
  snapshot->adapter_open = true;
  summary.on_snapshot(snapshot);
  auto waiting = std::make_shared<station::StationSnapshot>(*snapshot);
  waiting->pool_waiting = true;
  waiting->pool_problem = "the next MAC address could not be stored in s.reg: No space left on device";
  summary.on_snapshot(waiting);
  summary.on_snapshot(waiting);
  summary.on_snapshot(snapshot);
  EXPECT_EQ(out.text(),
            "MAC address pool unavailable, waiting: the next MAC address could not be stored in "
            "s.reg: No space left on device\nMAC address pool available again\n");
}


// A station's status: its adapter and the next address it gives.
std::shared_ptr<station::StationSnapshot> status(const std::string& adapter, const char* next,
                                                  station::BarcodeMode barcode = station::BarcodeMode::kOff) {
  auto snapshot = std::make_shared<station::StationSnapshot>();
  snapshot->start_ups = 1;
  snapshot->adapter_open = true;
  snapshot->adapter = adapter;
  snapshot->barcode_mode = barcode;
  MacDigits::parse(next, snapshot->digits);
  snapshot->status_text = "Ethernet -> " + adapter;
  if (barcode == station::BarcodeMode::kOff) snapshot->status_text += std::string("   MAC_Addr -> [") + next + "]";
  return snapshot;
}

struct StatusCase {
  const char* name;
  std::vector<std::shared_ptr<station::StationSnapshot>> snapshots;
  std::string said;
};
void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }

class RunSummaryStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(RunSummaryStatus, SaidOnlyWhenItChangesByMoreThanTheBoardsProgress) {
  Captured out;
  RunSummary summary(out.file(), false);
  for (const auto& snapshot : GetParam().snapshots) summary.on_snapshot(snapshot);
  EXPECT_EQ(out.text(), GetParam().said);
}

const StatusCase kStatusCases[] = {
    {"TheSameStatusTwice",
     {status("eth1", "001122334455"), status("eth1", "001122334455")},
     "Ethernet -> eth1   MAC_Addr -> [001122334455]\n"},
    {"TheNextAddressMovingOnWithEveryBoard",
     {status("eth1", "001122334455"), status("eth1", "001122334456"), status("eth1", "001122334457")},
     "Ethernet -> eth1   MAC_Addr -> [001122334455]\n"},
    {"AnotherAdapter",
     {status("eth1", "001122334455"), status("eth2", "001122334455")},
     "Ethernet -> eth1   MAC_Addr -> [001122334455]\nEthernet -> eth2   MAC_Addr -> [001122334455]\n"},
    {"AnotherAdapterAndAddressAtOnce",
     {status("eth1", "001122334455"), status("eth2", "001122334456")},
     "Ethernet -> eth1   MAC_Addr -> [001122334455]\nEthernet -> eth2   MAC_Addr -> [001122334456]\n"},
    {"BarcodeModeTurnedOn",
     {status("eth1", "001122334455"), status("eth1", "001122334456", station::BarcodeMode::kOn)},
     "Ethernet -> eth1   MAC_Addr -> [001122334455]\nEthernet -> eth1\n"},
};

INSTANTIATE_TEST_SUITE_P(Changes, RunSummaryStatus, ::testing::ValuesIn(kStatusCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(LineTotals, SeveralPortsEndWithTheLinesTotalOnePortWithItsOwn) {
  EXPECT_EQ(line_totals_line({present::Totals{2, 2, 0}, present::Totals{3, 1, 2}}),
            "line: 5 boards: 3 passed, 2 failed");
  EXPECT_EQ(line_totals_line({present::Totals{1, 1, 0}, present::Totals{}, present::Totals{1, 0, 1}}),
            "line: 2 boards: 1 passed, 1 failed");
  EXPECT_EQ(line_totals_line({present::Totals{2, 2, 0}}), std::nullopt);
}

}  // namespace
}  // namespace skav::cli

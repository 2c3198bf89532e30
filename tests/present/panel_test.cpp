// What a front end shows beside the log: the word, its tone, the line under it and the steps,
// from the snapshots of real runs and from hand-made ones for the states between runs.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <tuple>

#include "core/config/section_table.h"
#include "support/rig.h"
#include "support/temp_dir.h"
#include "present/panel.h"
#include "present/summary.h"
#include "present/totals.h"

namespace skav::present {
namespace {

using station::StationSnapshot;
using station::StepSlot;
using station::StepView;

struct RunCase {
  const char* name;
  std::function<void(sim::BoardOptions&)> board;
  std::function<void(const std::filesystem::path& dir)> files;
  Word word;
  Tone tone;
  const char* detail;
  // The rows' words in order ("pass,fail,..."), the records' own.
  const char* states;
};

// Each way a section is or is not sent, from config.ini through the plan to the step's row:
// the view says it with fields, and the row's text comes from them.
struct SkipCase {
  const char* section;  // config.ini's kernel section, after "[kernel]\n"
  station::SkipReason skip;
  const char* summary;
  bool shown;              // a row for the kernel step
  const char* planned;     // the row's text as the plan first shows it (an unused step: skipped)
  const char* skipped;     // the row's text once the run skipped it
};

TEST(StepViewOfAPlan, SaysWhyAStepIsSkippedWithoutText) {
  const SkipCase cases[] = {
      {"Filename=BADID\n", station::SkipReason::kNotConfigured, "not configured", false, "", ""},
      {"Filename=k.bin\nMem_type=mem\nCommand=write\n", station::SkipReason::kMemoryType,
       "Mem_type mem is not nand, spi or lpc", true, "Mem_type mem is not nand, spi or lpc",
       "Mem_type mem is not nand, spi or lpc"},
      {"Filename=k.bin\nMem_type=nand\nCommand=erase\n", station::SkipReason::kCommand,
       "Command erase is not write, read or exe", true, "Command erase is not write, read or exe",
       "Command erase is not write, read or exe"},
      {"Filename=gone.bin\nMem_type=nand\nCommand=write\n", station::SkipReason::kFile,
       "file gone.bin missing", true, "skipped, file gone.bin missing", "file gone.bin missing"},
      {"Filename=k.bin\nMem_type=nand\nCommand=write\n", station::SkipReason::kNone,
       "memory type 1 (nand), command 0 (write), 5 bytes from k.bin", true,
       "memory type 1 (nand), command 0 (write), 5 bytes from k.bin", ""},
  };
  for (const SkipCase& c : cases) {
    SCOPED_TRACE(c.section);
    test::TempDir dir;
    dir.write("k.bin", "12345");
    dir.write("config.ini", std::string("[kernel]\n") + c.section);
    config::SectionTable table;
    config::read_section_table(table, dir / "config.ini");
    const station::RunPlan plan = station::make_plan(table, dir.path());
    const station::PlanStep& planned = plan.step(StepSlot::kKernel);
    StepView view = station::step_view(planned);
    EXPECT_EQ(view.skip, c.skip);
    EXPECT_EQ(view.summary, c.summary);
    EXPECT_EQ(station::describe_step(planned), std::string("0 kernel: ") +
                                                   (c.skip == station::SkipReason::kNone ? "" : "skipped, ") +
                                                   c.summary);

    station::BoardView board;
    board.planned = true;
    board.steps[static_cast<std::size_t>(StepSlot::kKernel)] = view;
    std::vector<StepRow> rows = step_rows(board);
    auto kernel = std::find_if(rows.begin(), rows.end(), [](const StepRow& r) { return r.name == "kernel"; });
    ASSERT_EQ(kernel != rows.end(), c.shown);
    if (!c.shown) continue;
    EXPECT_EQ(kernel->text, c.planned);
    if (c.skip == station::SkipReason::kNone) continue;
    board.steps[static_cast<std::size_t>(StepSlot::kKernel)].state = StepView::State::kDone;
    board.steps[static_cast<std::size_t>(StepSlot::kKernel)].verdict = station::Verdict::kSkipped;
    rows = step_rows(board);
    kernel = std::find_if(rows.begin(), rows.end(), [](const StepRow& r) { return r.name == "kernel"; });
    ASSERT_NE(kernel, rows.end());
    EXPECT_EQ(kernel->text, c.skipped);
    EXPECT_EQ(kernel->state, StepState::kSkipped);
  }
}

std::string states_of(const std::vector<StepRow>& rows) {
  std::string text;
  for (const StepRow& row : rows) text += (text.empty() ? "" : ",") + row.word;
  return text;
}

class FinishedRun : public ::testing::TestWithParam<RunCase> {};

// One board through the station; the panel of the last snapshot.
TEST_P(FinishedRun, ShowsTheVerdictItsToneAndTheFailedStep) {
  const RunCase& c = GetParam();
  test::StationRig rig;
  if (c.files) c.files(rig.dir.path());
  sim::BoardOptions options;
  if (c.board) c.board(options);
  rig.plug(options);
  ASSERT_TRUE(rig.until_boards_done(1)) << rig.log_text();

  Panel panel = make_panel(*rig.station->snapshot());
  EXPECT_EQ(word_text(panel.word), std::string(word_text(c.word)));
  EXPECT_EQ(panel.tone, c.tone);
  EXPECT_EQ(panel.detail, c.detail);
  EXPECT_EQ(states_of(panel.steps), c.states);
  std::string address = c.states[0] == 'p' ? "address " + test::written_address(0) : "no address written";
  EXPECT_EQ(panel.board.rfind("Board 1, " + address + ", ", 0), 0u) << panel.board;
  EXPECT_TRUE(panel.board.ends_with(" s")) << panel.board;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, FinishedRun,
    ::testing::Values(
        RunCase{"Pass", nullptr, nullptr, Word::kPass, Tone::kGood, "", "pass,pass,pass,pass,pass"},
        // The diagnostic image still says "All tests passed.": the word says otherwise.
        RunCase{"ReadBackDiffers", [](sim::BoardOptions& o) { o.faults.corrupt_read = 4; }, nullptr,
                Word::kFail, Tone::kBad, "filesystem: read-back differs", "pass,pass,pass,fail,pass"},
        RunCase{"SilentInTheKernel",
                [](sim::BoardOptions& o) {
                  o.faults.silent_phase = sim::SilentPhase::kMidData;
                  o.faults.silent_exchange = 3;
                },
                nullptr, Word::kTimeout, Tone::kBad, "kernel: no answer after 30 s",
                "pass,timeout,not-run,not-run,not-run"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// A board whose run is in progress, with its plan and `slot` moving `done` of `total` bytes.
StationSnapshot programming(StepSlot slot, std::uint64_t done, std::uint64_t total, double rate) {
  StationSnapshot s;
  s.start_ups = 1;
  s.adapter_open = true;
  s.state = station::StationState::kConnected;
  s.run_status = station::RunStatus::kRunning;
  station::BoardView& board = s.board.emplace();
  board.number = 7;
  board.planned = true;
  for (std::size_t i = 0; i < station::kStepSlots; ++i) {
    StepView& step = board.steps[i];
    step.slot = static_cast<StepSlot>(i);
    step.used = i != 2;
    step.skip = step.used ? station::SkipReason::kNone : station::SkipReason::kNotConfigured;
    step.summary = step.used ? "100 bytes" : "not configured";
    step.state = step.used ? StepView::State::kWaiting : StepView::State::kDone;
    if (i < static_cast<std::size_t>(slot) && step.used) {
      step.state = StepView::State::kDone;
      step.verdict = station::Verdict::kPass;
    }
  }
  StepView& moving = board.steps[static_cast<std::size_t>(slot)];
  moving.state = StepView::State::kRunning;
  moving.done = done;
  moving.total = total;
  moving.bytes_per_second = rate;
  return s;
}

struct StateCase {
  const char* name;
  std::function<StationSnapshot()> snapshot;
  Word word;
  Tone tone;
  const char* detail;
};

class BetweenRuns : public ::testing::TestWithParam<StateCase> {};

TEST_P(BetweenRuns, WordToneAndDetail) {
  const StateCase& c = GetParam();
  Panel panel = make_panel(c.snapshot());
  EXPECT_EQ(word_text(panel.word), std::string(word_text(c.word)));
  EXPECT_EQ(panel.tone, c.tone);
  EXPECT_EQ(panel.detail, c.detail);
}

StationSnapshot searching() {
  StationSnapshot s;
  s.start_ups = 1;
  s.adapter_open = true;
  s.state = station::StationState::kSearching;
  return s;
}

StationSnapshot finished(station::Verdict overall, const char* failure) {
  StationSnapshot s = programming(StepSlot::kDiag, 0, 0, 0);
  s.state = station::StationState::kSearching;
  s.run_status = station::RunStatus::kNoRun;
  s.board->finished = true;
  s.board->overall = overall;
  s.board->failure = failure;
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    States, BetweenRuns,
    ::testing::Values(
        StateCase{"BeforeStartUp", [] { return StationSnapshot{}; }, Word::kStarting, Tone::kNeutral, ""},
        StateCase{"NoBoardYet", searching, Word::kSearching, Tone::kNeutral, "connect a board"},
        StateCase{"AdapterCannotBeOpened",
                  [] {
                    StationSnapshot s = searching();
                    s.adapter_open = false;
                    s.adapter = "eth1";
                    s.adapter_problem = "eth1 cannot be opened: Operation not permitted";
                    return s;
                  },
                  Word::kAdapterError, Tone::kBad, "eth1 cannot be opened: Operation not permitted"},
        // Over the last board's verdict: nothing can be programmed until the adapter is back.
        StateCase{"AdapterGoneAfterAPass",
                  [] {
                    StationSnapshot s = finished(station::Verdict::kPass, "");
                    s.adapter_open = false;
                    s.adapter = "eth1";
                    s.adapter_problem = "eth1 is gone";
                    return s;
                  },
                  Word::kAdapterError, Tone::kBad, "eth1 is gone"},
        // Stopping closes the link; that is no fault of the adapter.
        StateCase{"StationStopped",
                  [] {
                    StationSnapshot s = finished(station::Verdict::kPass, "");
                    s.adapter_open = false;
                    s.stopped = true;
                    return s;
                  },
                  Word::kPass, Tone::kGood, ""},
        StateCase{"AdapterNotOpenWithoutAReason",
                  [] {
                    StationSnapshot s = searching();
                    s.adapter_open = false;
                    return s;
                  },
                  Word::kAdapterError, Tone::kBad, "no adapter is open"},
        // What the station itself lacks is no board's fault: the waiting board shows no verdict
        // of the last one, but what is wrong and what to do.
        StateCase{"StationFaultWithABoardWaiting",
                  [] {
                    StationSnapshot s = finished(station::Verdict::kPass, "");
                    s.state = station::StationState::kConnected;
                    s.station_fault = station::StationFault{"images/kernel.bin is missing", "put it back or fix config.ini"};
                    return s;
                  },
                  Word::kStationError, Tone::kBad, "images/kernel.bin is missing: put it back or fix config.ini"},
        StateCase{"BarcodeModeAsksForTheAddress",
                  [] {
                    StationSnapshot s = finished(station::Verdict::kFail, "kernel: read-back differs");
                    s.state = station::StationState::kConnected;
                    s.entry_pending = true;
                    return s;
                  },
                  Word::kConnected, Tone::kBusy, "type or scan the board's MAC address, then Enter"},
        StateCase{"DataMoving", [] { return programming(StepSlot::kFilesystem, 10, 100, 5); },
                  Word::kProgramming, Tone::kBusy, "step 3 of 4: filesystem"},
        StateCase{"PlanNotYetKnown",
                  [] {
                    StationSnapshot s = programming(StepSlot::kKernel, 0, 0, 0);
                    s.board->planned = false;
                    return s;
                  },
                  Word::kProgramming, Tone::kBusy, "reading config.ini"},
        // The verdict stays while the station searches and until the next board connects.
        StateCase{"LastBoardFailedAndTheStationSearches",
                  [] { return finished(station::Verdict::kFail, "uboot: status reports failure"); },
                  Word::kFail, Tone::kBad, "uboot: status reports failure"},
        // The adapter is back: its loss no longer stands as the reason, only the outcome.
        StateCase{"LastBoardLostItsAdapterWhichIsBack",
                  [] {
                    StationSnapshot s = finished(station::Verdict::kAdapterLost, "kernel: adapter eth1 is gone");
                    StepView& kernel = s.board->steps[static_cast<std::size_t>(StepSlot::kKernel)];
                    kernel.state = StepView::State::kDone;
                    kernel.verdict = station::Verdict::kAdapterLost;
                    kernel.reason = "adapter eth1 is gone";
                    return s;
                  },
                  Word::kInterrupted, Tone::kNeutral, "kernel: adapter-lost (the adapter is back)"},
        // A run cut short did not fail its board: no alarm's tone.
        StateCase{"LastBoardStoppedIsInterrupted",
                  [] { return finished(station::Verdict::kStopped, "kernel: stopped by the operator"); },
                  Word::kInterrupted, Tone::kNeutral, "kernel: stopped by the operator"},
        StateCase{"RunFinishedBeforeTheTickSeesIt",
                  [] {
                    StationSnapshot s = finished(station::Verdict::kTimeout, "diag: no answer after 5 s");
                    s.state = station::StationState::kConnected;
                    s.run_status = station::RunStatus::kFinished;
                    return s;
                  },
                  Word::kTimeout, Tone::kBad, "diag: no answer after 5 s"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// `skav run`'s line for a finished board: the panel's word, and the record's where it differs.
struct SummaryCase {
  station::Verdict overall;
  station::Verdict kernel;  // the kernel step's outcome; every other step passed
  const char* reason;       // the kernel step's
  const char* line;
};

TEST(BoardSummary, NamesThePanelsWordAndTheRecordsWhereTheyDiffer) {
  using station::Verdict;
  const SummaryCase cases[] = {
      {Verdict::kPass, Verdict::kPass, "", "7 PASS - 0.00 s"},
      {Verdict::kFail, Verdict::kFail, "read-back differs", "7 FAIL - 0.00 s kernel: read-back differs"},
      {Verdict::kTimeout, Verdict::kTimeout, "no answer after 30 s",
       "7 TIMEOUT - 0.00 s kernel: no answer after 30 s"},
      {Verdict::kStopped, Verdict::kStopped, "stopped by the operator",
       "7 INTERRUPTED - 0.00 s stopped; kernel: stopped by the operator"},
      {Verdict::kAdapterLost, Verdict::kAdapterLost, "adapter eth1 is gone",
       "7 INTERRUPTED - 0.00 s adapter-lost; kernel: adapter eth1 is gone"},
      {Verdict::kSkipped, Verdict::kSkipped, "", "7 FAIL - 0.00 s skipped; nothing configured"},
  };
  for (const SummaryCase& c : cases) {
    StationSnapshot s = finished(c.overall, "");
    for (StepView& step : s.board->steps)
      if (step.used) {
        step.state = StepView::State::kDone;
        step.verdict = Verdict::kPass;
      }
    StepView& kernel = s.board->steps[static_cast<std::size_t>(StepSlot::kKernel)];
    kernel.verdict = c.kernel;
    kernel.reason = c.reason;
    EXPECT_EQ(board_summary(*s.board), c.line);
  }
}

TEST(PanelBoardLine, AnAdapterInErrorNamesItselfInsteadOfTheLastBoard) {
  StationSnapshot s = finished(station::Verdict::kPass, "");
  EXPECT_EQ(make_panel(s).board.rfind("Board 7, no address written, ", 0), 0u) << make_panel(s).board;
  s.adapter_open = false;
  s.adapter = "eth1";
  s.adapter_problem = "eth1 is gone";
  EXPECT_EQ(make_panel(s).board, "Adapter eth1");
}

TEST(PanelSteps, TheMovingStepShowsItsShareRateAndTimeLeft) {
  Panel panel = make_panel(programming(StepSlot::kFilesystem, 12'000'000, 48'000'000, 12e6));
  EXPECT_EQ(panel.board, "Board 7, no address written yet");
  ASSERT_EQ(panel.steps.size(), 4u) << "the section not configured is no row";
  const StepRow& row = panel.steps[2];
  EXPECT_EQ(row.name, "filesystem");
  EXPECT_EQ(row.state, StepState::kRunning);
  EXPECT_TRUE(row.moving);
  EXPECT_EQ(row.percent, 25);
  EXPECT_EQ(row.progress, "12.0 of 48.0 MB, 12.0 MB/s, 3 s left");
  EXPECT_EQ(row.text, "100 bytes");
  EXPECT_EQ(states_of(panel.steps), "pass,pass,running,waiting");
}

// The phase says which way the data goes; a silent board's estimate gives way to how long it
// has said nothing.
TEST(PanelSteps, TheMovingStepSaysItsPhaseAndASilenceInsteadOfAnEstimate) {
  struct Case {
    station::DataPhase phase;
    int silent_seconds;
    const char* progress;
  };
  const Case cases[] = {
      {station::DataPhase::kWriting, 0, "writing 12.0 of 48.0 MB, 12.0 MB/s, 3 s left"},
      {station::DataPhase::kVerifying, 0, "verifying 12.0 of 48.0 MB, 12.0 MB/s, 3 s left"},
      {station::DataPhase::kVerifying, 1, "verifying 12.0 of 48.0 MB, 12.0 MB/s, 3 s left"},
      {station::DataPhase::kWriting, 2, "writing 12.0 of 48.0 MB, no answer for 2 s"},
      {station::DataPhase::kVerifying, 27, "verifying 12.0 of 48.0 MB, no answer for 27 s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.progress);
    StationSnapshot s = programming(StepSlot::kFilesystem, 12'000'000, 48'000'000, 12e6);
    StepView& moving = s.board->steps[static_cast<std::size_t>(StepSlot::kFilesystem)];
    moving.phase = c.phase;
    moving.silent_seconds = c.silent_seconds;
    Panel panel = make_panel(s);
    ASSERT_EQ(panel.steps.size(), 4u);
    EXPECT_EQ(panel.steps[2].progress, c.progress);
  }
}

// Each outcome shows the word its record has.
TEST(StepWord, EveryOutcomeShowsTheRecordsWord) {
  using station::Verdict;
  for (Verdict verdict : {Verdict::kPass, Verdict::kFail, Verdict::kTimeout, Verdict::kNotRun, Verdict::kStopped,
                          Verdict::kAdapterLost, Verdict::kSkipped}) {
    StepView step;
    step.state = StepView::State::kDone;
    step.verdict = verdict;
    EXPECT_STREQ(step_word(step), station::verdict_name(verdict));
    EXPECT_LE(std::strlen(step_word(step)), std::strlen(kWidestStepWord));
  }
  StepView step;
  EXPECT_STREQ(step_word(step), "waiting");
  step.state = StepView::State::kRunning;
  EXPECT_STREQ(step_word(step), "running");
}

// A board's outcome in one word that the panel, the tiles, the totals and the terminal share:
// a run cut short (stopped, adapter-lost) is INTERRUPTED, counted apart and calling no one.
struct OutcomeCase {
  station::Verdict overall;
  Word word;
  Tone tone;
  bool alarm;
  int passed, failed, interrupted;  // how the totals count the board
};

TEST(OutcomeWord, PanelTotalsAndAlarmAgree) {
  using station::Verdict;
  const OutcomeCase cases[] = {
      {Verdict::kPass, Word::kPass, Tone::kGood, false, 1, 0, 0},
      {Verdict::kFail, Word::kFail, Tone::kBad, true, 0, 1, 0},
      {Verdict::kTimeout, Word::kTimeout, Tone::kBad, true, 0, 1, 0},
      {Verdict::kSkipped, Word::kFail, Tone::kBad, true, 0, 1, 0},
      {Verdict::kStopped, Word::kInterrupted, Tone::kNeutral, false, 0, 0, 1},
      {Verdict::kAdapterLost, Word::kInterrupted, Tone::kNeutral, false, 0, 0, 1},
  };
  for (const OutcomeCase& c : cases) {
    SCOPED_TRACE(station::verdict_name(c.overall));
    const Word word = verdict_word(c.overall);
    EXPECT_STREQ(word_text(word), word_text(c.word));
    EXPECT_EQ(tone_of(word), c.tone);
    EXPECT_EQ(is_alarm(word), c.alarm);

    Totals port;
    port.add(c.overall);
    station::BoardRecord record;
    record.overall = c.overall;
    record.written_mac = "02:00:00:0A:00:01";
    line::Tally line;
    line.add(record);
    for (const auto& [passed, failed, interrupted] :
         {std::tuple{port.passed, port.failed, port.interrupted},
          std::tuple{line.counts().passed, line.counts().failed, line.counts().interrupted}}) {
      EXPECT_EQ(passed, c.passed);
      EXPECT_EQ(failed, c.failed);
      EXPECT_EQ(interrupted, c.interrupted);
    }
  }
}

TEST(OutcomeWord, EveryWordHasItsOwnText) {
  std::set<std::string> texts;
  for (Word word : kWords) EXPECT_TRUE(texts.insert(word_text(word)).second) << word_text(word);
  EXPECT_TRUE(texts.count("INTERRUPTED"));
}

struct ProgressCase {
  std::uint64_t done, total;
  double rate;
  const char* text;
};

TEST(ProgressText, UnitsFollowTheTotalAndTimeLeftTheRate) {
  const ProgressCase cases[] = {
      {0, 512, 0, "0 of 512 bytes"},
      {24576, 49152, 1e6, "25 of 49 kB, 1.0 MB/s, 1 s left"},
      {49152, 49152, 1e6, "49 of 49 kB, 1.0 MB/s"},
      {10'000'000, 100'000'000, 1e6, "10.0 of 100.0 MB, 1.0 MB/s, 1 min 30 s left"},
      {1'000'000'000, 2'500'000'000, 50e6, "1.00 of 2.50 GB, 50.0 MB/s, 30 s left"},
      {600, 500, 0, "500 of 500 bytes"},
  };
  for (const ProgressCase& c : cases)
    EXPECT_EQ(progress_text(c.done, c.total, c.rate), c.text) << c.done << " of " << c.total;
}

}  // namespace
}  // namespace skav::present

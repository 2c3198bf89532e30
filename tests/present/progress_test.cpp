// The progress line: which step it names and the percent and label it shows.

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "present/progress.h"

namespace skav::present {
namespace {

using station::StepSlot;
using station::StepView;

TEST(StepPercent, RoundsDownAndStaysWithinAHundred) {
  struct Case {
    std::uint64_t done;
    std::uint64_t total;
    int percent;
  };
  for (const Case& c : std::vector<Case>{
           {0, 2048, 0}, {512, 2048, 25}, {2047, 2048, 99}, {2048, 2048, 100}, {4096, 2048, 100},
           {5, 0, 0}, {1, 3, 33}, {(1ull << 40) - 1, 1ull << 40, 99}}) {
    SCOPED_TRACE(std::to_string(c.done) + "/" + std::to_string(c.total));
    EXPECT_EQ(step_percent(c.done, c.total), c.percent);
  }
}

struct StepFigures {
  StepSlot slot;
  StepView::State state;
  std::uint64_t done = 0;
  std::uint64_t total = 0;
  station::DataPhase phase = station::DataPhase::kNone;
  int silent_seconds = 0;
};

station::StationSnapshot snapshot_of(const std::vector<StepFigures>& steps, bool finished = false) {
  station::StationSnapshot snapshot;
  station::BoardView board;
  board.planned = true;
  board.finished = finished;
  for (const StepFigures& s : steps) {
    StepView& step = board.steps[static_cast<std::size_t>(s.slot)];
    step.slot = s.slot;
    step.used = true;
    step.state = s.state;
    step.done = s.done;
    step.total = s.total;
    step.phase = s.phase;
    step.silent_seconds = s.silent_seconds;
  }
  snapshot.board = board;
  return snapshot;
}

TEST(ProgressLine, NamesTheRunningStepThatMovesData) {
  using State = StepView::State;
  struct Case {
    const char* name;
    station::StationSnapshot snapshot;
    std::optional<ProgressLine> line;
  };
  const std::vector<Case> cases = {
      {"no board", station::StationSnapshot{}, std::nullopt},
      {"a transfer", snapshot_of({{StepSlot::kKernel, State::kRunning, 512, 2048}}),
       ProgressLine{"kernel", 25, "kernel 25%"}},
      {"done", snapshot_of({{StepSlot::kFilesystem, State::kRunning, 2048, 2048}}),
       ProgressLine{"filesystem", 100, "filesystem 100%"}},
      {"running without a size yet", snapshot_of({{StepSlot::kKernel, State::kRunning, 0, 0}}),
       std::nullopt},
      {"only finished steps", snapshot_of({{StepSlot::kKernel, State::kDone, 2048, 2048}}),
       std::nullopt},
      {"a finished board", snapshot_of({{StepSlot::kKernel, State::kRunning, 512, 2048}}, true),
       std::nullopt},
      {"the last running step with a size",
       snapshot_of({{StepSlot::kKernel, State::kRunning, 1, 2}, {StepSlot::kFilesystem, State::kRunning, 1, 4}}),
       ProgressLine{"filesystem", 25, "filesystem 25%"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(progress_line(c.snapshot), c.line);
  }
}

// The bar says which way the data goes, and once the board has been silent for two seconds,
// for how long, instead of letting the percent stand as if all were well.
TEST(ProgressLine, SaysThePhaseAndHowLongASilentBoardHasSaidNothing) {
  using State = StepView::State;
  using station::DataPhase;
  struct Case {
    StepFigures step;
    const char* label;
  };
  const std::vector<Case> cases = {
      {{StepSlot::kKernel, State::kRunning, 512, 2048, DataPhase::kWriting, 0}, "kernel writing 25%"},
      {{StepSlot::kKernel, State::kRunning, 2048, 2048, DataPhase::kWriting, 0}, "kernel writing 100%"},
      {{StepSlot::kKernel, State::kRunning, 1024, 2048, DataPhase::kVerifying, 0}, "kernel verifying 50%"},
      {{StepSlot::kKernel, State::kRunning, 1024, 2048, DataPhase::kVerifying, 1}, "kernel verifying 50%"},
      {{StepSlot::kKernel, State::kRunning, 1024, 2048, DataPhase::kVerifying, 2},
       "kernel verifying 50%, no answer for 2 s"},
      {{StepSlot::kFilesystem, State::kRunning, 2048, 2048, DataPhase::kWriting, 31},
       "filesystem writing 100%, no answer for 31 s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::optional<ProgressLine> line = progress_line(snapshot_of({c.step}));
    ASSERT_TRUE(line);
    EXPECT_EQ(line->label, c.label);
  }
}

TEST(SilenceText, NothingBeforeTwoSecondsThenTheWholeSeconds) {
  EXPECT_EQ(silence_text(0), "");
  EXPECT_EQ(silence_text(1), "");
  EXPECT_EQ(silence_text(2), "no answer for 2 s");
  EXPECT_EQ(silence_text(120), "no answer for 120 s");
  EXPECT_STREQ(phase_text(station::DataPhase::kWriting), "writing");
  EXPECT_STREQ(phase_text(station::DataPhase::kVerifying), "verifying");
  EXPECT_STREQ(phase_text(station::DataPhase::kNone), "");
}

}  // namespace
}  // namespace skav::present

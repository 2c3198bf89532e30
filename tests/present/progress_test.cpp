// The progress line: which step it names and the percent and label it shows.

#include <gtest/gtest.h>

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

struct StepState {
  StepSlot slot;
  StepView::State state;
  std::uint64_t done = 0;
  std::uint64_t total = 0;
};

station::StationSnapshot snapshot_of(const std::vector<StepState>& steps, bool finished = false) {
  station::StationSnapshot snapshot;
  station::BoardView board;
  board.planned = true;
  board.finished = finished;
  for (const StepState& s : steps) {
    StepView& step = board.steps[static_cast<std::size_t>(s.slot)];
    step.slot = s.slot;
    step.used = true;
    step.state = s.state;
    step.done = s.done;
    step.total = s.total;
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

}  // namespace
}  // namespace skav::present

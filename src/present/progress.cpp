#include "present/progress.h"

#include <algorithm>

namespace skav::present {

int step_percent(std::uint64_t done, std::uint64_t total) {
  if (total == 0) return 0;
  return static_cast<int>(std::min(done, total) * 100 / total);
}

std::optional<ProgressLine> progress_line(const station::StationSnapshot& snapshot) {
  if (!snapshot.board || snapshot.board->finished) return std::nullopt;
  const station::StepView* running = nullptr;
  for (const station::StepView& step : snapshot.board->steps)
    if (step.state == station::StepView::State::kRunning && step.total > 0) running = &step;
  if (running == nullptr) return std::nullopt;
  ProgressLine line;
  line.step = running->name();
  line.percent = step_percent(running->done, running->total);
  line.label = line.step + ' ' + std::to_string(line.percent) + '%';
  return line;
}

}  // namespace skav::present

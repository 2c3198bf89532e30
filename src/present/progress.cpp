#include "present/progress.h"

#include <algorithm>

namespace skav::present {

int step_percent(std::uint64_t done, std::uint64_t total) {
  if (total == 0) return 0;
  return static_cast<int>(std::min(done, total) * 100 / total);
}

const char* phase_text(station::DataPhase phase) {
  switch (phase) {
    case station::DataPhase::kWriting: return "writing";
    case station::DataPhase::kVerifying: return "verifying";
    case station::DataPhase::kNone: break;
  }
  return "";
}

std::string silence_text(int silent_seconds) {
  if (silent_seconds < station::kSilenceShown.count()) return {};
  return "no answer for " + std::to_string(silent_seconds) + " s";
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
  line.label = line.step + ' ';
  if (running->phase != station::DataPhase::kNone) line.label += std::string(phase_text(running->phase)) + ' ';
  line.label += std::to_string(line.percent) + '%';
  if (std::string silence = silence_text(running->silent_seconds); !silence.empty())
    line.label += ", " + silence;
  return line;
}

}  // namespace skav::present

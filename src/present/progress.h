#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/station/station_events.h"

namespace skav::present {

// Percent (0-100) of `done` out of `total` bytes; `done` past `total` counts as all. 0 when
// `total` is 0.
int step_percent(std::uint64_t done, std::uint64_t total);

// "writing", "verifying"; "" for no data phase.
const char* phase_text(station::DataPhase phase);
// "no answer for 3 s" once the board has been silent for station::kSilenceShown; "" before.
std::string silence_text(int silent_seconds);

// The running step's transfer as a status bar shows it.
struct ProgressLine {
  std::string step;   // the step's name, "kernel"
  int percent = 0;    // 0-100 of its current data phase
  // "kernel writing 42%"; with a silent board "kernel verifying 42%, no answer for 3 s".
  std::string label;
  bool operator==(const ProgressLine&) const = default;
};

// The step of `snapshot`'s board that is moving data now (the last running one with a size),
// or none: no board, a finished board, or no transfer under way.
std::optional<ProgressLine> progress_line(const station::StationSnapshot& snapshot);

}  // namespace skav::present

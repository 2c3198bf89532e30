#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/station/station_events.h"

namespace skav::present {

// Percent (0-100) of `done` out of `total` bytes; `done` past `total` counts as all. 0 when
// `total` is 0.
int step_percent(std::uint64_t done, std::uint64_t total);

// The running step's transfer as a status bar shows it.
struct ProgressLine {
  std::string step;   // the step's name, "kernel"
  int percent = 0;    // 0-100 of its current data phase
  std::string label;  // "kernel 42%"
  bool operator==(const ProgressLine&) const = default;
};

// The step of `snapshot`'s board that is moving data now (the last running one with a size),
// or none: no board, a finished board, or no transfer under way.
std::optional<ProgressLine> progress_line(const station::StationSnapshot& snapshot);

}  // namespace skav::present

#pragma once

#include <cstdint>
#include <string>

#include "core/station/records.h"

namespace skav::station {

// What the station tells a front end besides the log. Called from the station's own threads
// (the tick thread and a run's worker); implementations hand the news to their own thread and
// return quickly.
class StationEvents {
 public:
  virtual ~StationEvents() = default;
  // The Status Pane text changed.
  virtual void on_status_text(const std::string& text) = 0;
  // A section's data is travelling: `section` is its name, done/total in bytes.
  virtual void on_progress(const std::string& section, std::uint64_t done, std::uint64_t total) = 0;
  // The transfer of the section ended; hide any progress display.
  virtual void on_progress_end() = 0;
  // A run started (true) or ended and the station went back to searching (false).
  virtual void on_run_active(bool active) = 0;
  // A board's run finished; its record has been written.
  virtual void on_board_finished(const BoardRecord& record) = 0;
};

}  // namespace skav::station

#pragma once

#include "core/station/station_events.h"
#include "core/station/verdict.h"
#include "line/line.h"

namespace skav::line {

// How a run of the line ended, for whoever started it (a shell, a script, the line's own
// controller): the process's exit status is the value.
enum class ExitCode : int {
  kAllPassed = 0,       // every board passed (or no board was finished)
  kBoardFailed = 1,     // a board failed or timed out; the station itself could work
  kStationUnable = 2,   // the station ended unable to work, whatever its boards did
};

// What decides the exit code, gathered as the line runs and once it has stopped. Only the
// state at the end counts: a fault the station recovered from leaves no trace here.
struct RunEnd {
  int boards_failed = 0;           // boards whose run ended in fail or timeout
  bool station_fault = false;      // a port stood in a station error
  bool adapter_missing = false;    // a port had no open adapter (not opened, or gone)
  bool pool_unusable = false;      // a port waited for the address pool, or the range was used up
  bool records_unwritten = false;  // production records or outcomes not written where they go

  // A finished board's overall verdict. Fail and timeout count as the board's failure; a board
  // stopped by the operator or cut off from its adapter was not judged.
  void add_board(station::Verdict overall);
  // The line's last snapshot before it stopped: each port's adapter, pool and station fault.
  // (After stopping, every station has closed its adapter.)
  void add_last(const LineSnapshot& line);
  // A port's snapshot after the line stopped: records it still keeps unwritten.
  void add_stopped(const station::StationSnapshot& port);
  bool operator==(const RunEnd&) const = default;
};

// The exit code of a run that ended as `end` says: the station's inability first, then any
// board's failure.
ExitCode exit_code(const RunEnd& end);

}  // namespace skav::line

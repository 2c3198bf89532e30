#include "line/run_end.h"

namespace skav::line {

void RunEnd::add_board(station::Verdict overall) {
  if (overall == station::Verdict::kFail || overall == station::Verdict::kTimeout) ++boards_failed;
}

void RunEnd::add_last(const LineSnapshot& line) {
  if (line.pool != PoolState::kAvailable) pool_unusable = true;
  for (const auto& port : line.ports) {
    if (!port) continue;
    if (port->station_fault) station_fault = true;
    // Before its first start-up a station has not tried its adapter yet.
    if (port->start_ups > 0 && !port->adapter_open) adapter_missing = true;
    if (port->pool_waiting || port->pool_exhausted) pool_unusable = true;
  }
}

void RunEnd::add_stopped(const station::StationSnapshot& port) {
  if (port.records_kept > 0) records_unwritten = true;
}

ExitCode exit_code(const RunEnd& end) {
  if (end.station_fault || end.adapter_missing || end.pool_unusable || end.records_unwritten)
    return ExitCode::kStationUnable;
  if (end.boards_failed > 0) return ExitCode::kBoardFailed;
  return ExitCode::kAllPassed;
}

}  // namespace skav::line

#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/station/station_events.h"
#include "frontends/cli/port_output.h"
#include "frontends/cli/terminal.h"
#include "line/run_end.h"
#include "present/totals.h"

namespace skav::cli {

// What `skav run` says beside its log, on its own stream (standard error): the status text
// when it changes (not when only the next address moved on, as it does with every board); the
// adapter when it cannot be opened or went away; the address pool when the station starts
// waiting for it and when it goes on; "STATION ERROR <cause>: <remedy>" once for each fault of
// the station's own; one line for each
// finished board (present::board_summary); on a terminal, one live line while a step's data
// moves; and at the end, the totals.
class RunSummary : public station::StationEvents {
 public:
  // `terminal`: the stream is a terminal, so the live line may be rewritten in place.
  // `prefix` starts every line (a port's "eth1: " where several ports share the stream).
  RunSummary(std::FILE* out, bool terminal, std::string prefix = {});

  void on_snapshot(std::shared_ptr<const station::StationSnapshot> snapshot) override;
  void on_board_finished(const station::BoardRecord& record) override;
  // "12 boards: 11 passed, 1 failed".
  void finish();
  // Where the log writes when it shows on the same terminal (StdoutLog::share), so that the
  // live line and these lines never write over the log's text.
  SharedTerminal& terminal() { return out_; }
  // Where several ports' logs share the terminal: this port's lines go through `rows`, so that
  // none lands on another port's unfinished row. Set it before the summary is used.
  void share(PrefixedOutput* rows) { rows_ = rows; }
  present::Totals totals() const;
  // What this port's finished boards add to the run's end (line::RunEnd::add_board).
  line::RunEnd run_end() const;

 private:
  void write_line(const std::string& text);
  // `line` as it is, without the port's prefix.
  void write_whole_line(const std::string& line);

  mutable std::mutex mutex_;
  std::FILE* file_;
  SharedTerminal out_;
  PrefixedOutput* rows_ = nullptr;
  bool terminal_;
  std::string prefix_;
  std::string status_;
  // The snapshot in which the status text last changed.
  std::shared_ptr<const station::StationSnapshot> status_seen_;
  std::string adapter_problem_;
  bool records_kept_ = false;
  std::optional<station::StationFault> station_fault_;  // as last said
  std::string pool_problem_;  // why the station waits for the address pool; empty: it does not
  std::optional<station::BoardView> board_;  // as the last snapshot showed it
  present::Totals totals_;
  line::RunEnd end_;
};

// The line's total after the ports' own, "line: 24 boards: 22 passed, 2 failed"; none for a
// single port, whose own total is the line's.
std::optional<std::string> line_totals_line(const std::vector<present::Totals>& ports);

}  // namespace skav::cli

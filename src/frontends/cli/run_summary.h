#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/station/station_events.h"
#include "present/totals.h"

namespace skav::cli {

// What `skav run` says beside its log, on its own stream (standard error): the status text
// when it changes; the adapter when it cannot be opened or went away; the address pool when
// the station starts waiting for it and when it goes on; "STATION ERROR <cause>: <remedy>" once
// for each fault of the station's own; one line for each
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
  // Takes the live line away (the log is about to write on the same terminal); the next
  // snapshot draws it again.
  void clear_live();
  present::Totals totals() const;

 private:
  void clear_live_line();
  void write_line(const std::string& text);

  mutable std::mutex mutex_;
  std::FILE* out_;
  bool terminal_;
  std::string prefix_;
  bool live_shown_ = false;
  std::string status_;
  std::string adapter_problem_;
  bool records_kept_ = false;
  std::optional<station::StationFault> station_fault_;  // as last said
  std::string pool_problem_;  // why the station waits for the address pool; empty: it does not
  std::optional<station::BoardView> board_;  // as the last snapshot showed it
  present::Totals totals_;
};

}  // namespace skav::cli

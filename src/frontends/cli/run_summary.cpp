#include "frontends/cli/terminal.h"
#include "frontends/cli/run_summary.h"

#include "present/panel.h"
#include "present/summary.h"

namespace skav::cli {

RunSummary::RunSummary(std::FILE* out, bool terminal, std::string prefix)
    : file_(out), out_(out), terminal_(terminal), prefix_(std::move(prefix)) {}

void RunSummary::write_line(const std::string& text) { write_whole_line(prefix_ + text); }

void RunSummary::write_whole_line(const std::string& line) {
  if (rows_ != nullptr)
    rows_->write_beside(file_, line);
  else
    out_.write_line(line);
}

void RunSummary::on_snapshot(std::shared_ptr<const station::StationSnapshot> snapshot) {
  std::lock_guard lock(mutex_);
  if (snapshot->status_text != status_) {
    // The next address moves on with every board, and the board's own line shows the address
    // it took: a status that changed by that alone would drown the boards' lines.
    const station::StationSnapshot* seen = status_seen_.get();
    const bool progress_only = seen != nullptr && !status_.empty() && snapshot->digits != seen->digits &&
                               snapshot->adapter == seen->adapter && snapshot->adapters == seen->adapters &&
                               snapshot->selected_index == seen->selected_index &&
                               snapshot->barcode_mode == seen->barcode_mode;
    status_ = snapshot->status_text;
    status_seen_ = snapshot;
    if (!progress_only) write_line(status_);
  }
  present::Panel panel = present::make_panel(*snapshot);
  std::string problem = panel.word == present::Word::kAdapterError ? panel.detail : std::string();
  if (problem != adapter_problem_) {
    adapter_problem_ = problem;
    if (!problem.empty()) write_line(std::string(present::word_text(present::Word::kAdapterError)) + " " + problem);
  }
  // Records kept in memory: said once when it starts, and once when they are written.
  bool kept = snapshot->records_kept > 0;
  if (kept != records_kept_) {
    records_kept_ = kept;
    if (kept)
      write_line(std::string(present::word_text(present::Word::kStationError)) + " record not stored: " +
                 snapshot->record_problem + "; no board is taken until it is written");
    else
      write_line("the kept production records are written now");
  }
  // Something of the station's own is wrong: said once for each new fault, not at every check.
  // The line begins with the word, so that a script finds it; a port's name follows the word.
  if (snapshot->station_fault != station_fault_) {
    station_fault_ = snapshot->station_fault;
    if (station_fault_)
      write_whole_line(std::string(present::word_text(present::Word::kStationError)) + " " + prefix_ +
                       station_fault_->cause + ": " + station_fault_->remedy);
  }
  // Said as the log says it, once when the station starts waiting and once when it goes on.
  std::string pool = snapshot->pool_waiting ? snapshot->pool_problem : std::string();
  if (pool != pool_problem_) {
    pool_problem_ = pool;
    write_line(pool.empty() ? std::string("MAC address pool available again")
                            : "MAC address pool unavailable, waiting: " + pool);
  }
  board_ = snapshot->board;
  if (!terminal_) return;
  out_.show_live(board_ ? present::moving_line(*board_) : std::string());
}

void RunSummary::on_board_finished(const station::BoardRecord& record) {
  std::lock_guard lock(mutex_);
  totals_.add(record.overall);
  end_.add_board(record.overall);
  // The snapshot before this one shows the finished board with its steps' reasons.
  if (board_ && board_->finished) write_line(present::board_summary(*board_));
}

void RunSummary::finish() {
  std::lock_guard lock(mutex_);
  write_line(present::totals_line(totals_));
}

present::Totals RunSummary::totals() const {
  std::lock_guard lock(mutex_);
  return totals_;
}

line::RunEnd RunSummary::run_end() const {
  std::lock_guard lock(mutex_);
  return end_;
}

std::optional<std::string> line_totals_line(const std::vector<present::Totals>& ports) {
  if (ports.size() < 2) return std::nullopt;
  present::Totals line;
  for (const present::Totals& port : ports) line += port;
  return "line: " + present::totals_line(line);
}

}  // namespace skav::cli

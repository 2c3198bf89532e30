#include "frontends/cli/terminal.h"
#include "frontends/cli/run_summary.h"

#include "present/panel.h"
#include "present/summary.h"

namespace skav::cli {

RunSummary::RunSummary(std::FILE* out, bool terminal, std::string prefix)
    : out_(out), terminal_(terminal), prefix_(std::move(prefix)) {}

void RunSummary::write_line(const std::string& text) {
  clear_live_line();
  print(out_, "%s%s\n", prefix_.c_str(), text.c_str());
  std::fflush(out_);
}

void RunSummary::clear_live_line() {
  if (!live_shown_) return;
  std::fputs("\r\033[K", out_);
  live_shown_ = false;
}

void RunSummary::on_snapshot(std::shared_ptr<const station::StationSnapshot> snapshot) {
  std::lock_guard lock(mutex_);
  if (snapshot->status_text != status_) {
    status_ = snapshot->status_text;
    write_line(status_);
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
  // Said as the log says it, once when the station starts waiting and once when it goes on.
  std::string pool = snapshot->pool_waiting ? snapshot->pool_problem : std::string();
  if (pool != pool_problem_) {
    pool_problem_ = pool;
    write_line(pool.empty() ? std::string("MAC address pool available again")
                            : "MAC address pool unavailable, waiting: " + pool);
  }
  board_ = snapshot->board;
  if (!terminal_) return;
  std::string live = board_ ? present::moving_line(*board_) : std::string();
  if (live.empty()) {
    clear_live_line();
  } else {
    print(out_, "\r%s\033[K", live.c_str());
    std::fflush(out_);
    live_shown_ = true;
  }
}

void RunSummary::on_board_finished(const station::BoardRecord& record) {
  std::lock_guard lock(mutex_);
  totals_.add(record.overall);
  // The snapshot before this one shows the finished board with its steps' reasons.
  if (board_ && board_->finished) write_line(present::board_summary(*board_));
}

void RunSummary::clear_live() {
  std::lock_guard lock(mutex_);
  clear_live_line();
  std::fflush(out_);
}

void RunSummary::finish() {
  std::lock_guard lock(mutex_);
  write_line(present::totals_line(totals_));
}

present::Totals RunSummary::totals() const {
  std::lock_guard lock(mutex_);
  return totals_;
}

}  // namespace skav::cli

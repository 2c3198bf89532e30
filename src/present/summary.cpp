#include "present/summary.h"

#include <cstdio>

#include "core/mac_digits.h"
#include "present/panel.h"

namespace skav::present {

std::string board_summary(const station::BoardView& board) {
  std::string line = std::to_string(board.number) + " " + word_text(board_word(board)) + " " +
                     (board.address_written ? MacDigits::colon_text(board.address) : "-") + " " +
                     seconds_text(board.seconds);
  std::string failed;
  for (const StepRow& row : step_rows(board)) {
    if (row.state != StepState::kFail) continue;
    failed += (failed.empty() ? "" : "; ") + row.name + ": " + row.text;
  }
  if (failed.empty() && board.overall == station::Verdict::kSkipped) failed = "nothing configured";
  if (!board.record_stored) failed += (failed.empty() ? "" : "; ") + board.failure;
  if (!failed.empty()) line += " " + failed;
  return line;
}

std::string moving_line(const station::BoardView& board) {
  if (board.finished) return {};
  for (const StepRow& row : step_rows(board)) {
    if (!row.moving) continue;
    char head[64];
    std::snprintf(head, sizeof head, "board %d %s %3d%% ", board.number, row.name.c_str(), row.percent);
    return head + row.progress;
  }
  return {};
}

}  // namespace skav::present

#include "present/summary.h"

#include <cctype>
#include <cstdio>

#include "core/mac_digits.h"
#include "present/panel.h"

namespace skav::present {

namespace {

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::string board_summary(const station::BoardView& board) {
  const Word word = board_word(board);
  std::string line = std::to_string(board.number) + " " + word_text(word) + " " +
                     (board.address_written ? MacDigits::colon_text(board.address) : "-") + " " +
                     seconds_text(board.seconds);
  std::string failed;
  // Where the word is not the record's own (INTERRUPTED for stopped or adapter-lost, FAIL for
  // skipped), the record's word comes first, so that the terminal says what the records say.
  const std::string recorded = station::verdict_name(board.overall);
  if (word != Word::kStationError && lower(word_text(word)) != recorded) failed = recorded;
  for (const StepRow& row : step_rows(board)) {
    if (row.state != StepState::kFail) continue;
    failed += (failed.empty() ? "" : "; ") + row.name + ": " + row.text;
  }
  if (board.overall == station::Verdict::kSkipped) failed += (failed.empty() ? "" : "; ") + std::string("nothing configured");
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

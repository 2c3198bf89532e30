#include "app/port_rows.h"

#include "core/mac_digits.h"
#include "present/panel.h"

namespace skav::app {

namespace {

postgres::PortRow row_of(const station::StationSnapshot& snapshot) {
  postgres::PortRow row;
  const present::Panel panel = present::make_panel(snapshot);
  row.word = present::word_text(panel.word);
  row.adapter = snapshot.adapter;
  row.adapter_health = snapshot.adapter_open ? "ok"
                       : !snapshot.adapter_problem.empty() ? snapshot.adapter_problem
                                                           : "not open";
  if (!snapshot.board) return row;
  const station::BoardView& board = *snapshot.board;
  row.board = board.number;
  if (board.address_written) row.address = MacDigits::colon_text(board.address);
  if (board.finished) {
    row.verdict = station::verdict_name(board.overall);
    row.reason = board.failure;
    return row;
  }
  for (const present::StepRow& step : panel.steps)
    if (step.state == present::StepState::kRunning) {
      row.step = step.name;
      row.progress = step.percent;
    }
  return row;
}

}  // namespace

std::vector<postgres::PortRow> PortRows::operator()(const line::LineSnapshot& snapshot) {
  std::vector<postgres::PortRow> rows;
  if (last_.size() < snapshot.port_names.size()) last_.resize(snapshot.port_names.size());
  for (std::size_t i = 0; i < snapshot.port_names.size(); ++i) {
    postgres::PortRow row;
    if (i < snapshot.ports.size() && snapshot.ports[i]) row = row_of(*snapshot.ports[i]);
    else row.word = present::word_text(present::Word::kStarting);
    row.port = static_cast<int>(i);
    if (row.adapter.empty()) row.adapter = snapshot.port_names[i];
    Last& last = last_[i];
    if (!row.verdict.empty()) {
      last.verdict = row.verdict;
      last.reason = row.reason;
    } else {
      row.verdict = last.verdict;
      row.reason = last.reason;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace skav::app

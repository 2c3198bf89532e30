#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "frontends/qt/main_window.h"
#include "line/line.h"
#include "line/totals.h"

namespace skav::gui::test {

// The line as a window sees it, without stations: the boards a test finishes are counted by the
// line's own tallies and published to the window as LineSnapshots, and what the window posts
// is kept (a ResetShift empties the shift, as the line does).
class FakeLine : public line::PortInput {
 public:
  // `records_file`: today's boards before the first (none: today starts at nothing).
  FakeLine(MainWindow& window, std::size_t ports, const std::filesystem::path& records_file = {})
      : window_(window), port_tallies_(ports) {
    state_.ports.resize(ports);
    state_.port_counts.resize(ports);
    state_.totals.shift_since = station::iso8601_now();
    state_.totals.date = line::date_of(state_.totals.shift_since);
    if (!records_file.empty()) today_ = line::read_day(records_file, state_.totals.date);
    state_.totals.today = today_.counts();
    window_.set_input(this);
    publish();
  }
  ~FakeLine() override { window_.set_input(nullptr); }

  // Board `record` finished on port `port`: the window hears it from the port and the line.
  void finish(std::size_t port, const station::BoardRecord& record) {
    window_.events(static_cast<int>(port)).on_board_finished(record);
    line::add_board(state_.totals, shift_, today_, record);
    port_tallies_[port].add(record);
    state_.port_counts[port] = port_tallies_[port].counts();
    publish();
  }

  // Port `port`'s station published `snapshot`: the window hears it from the port and the line.
  void show(std::size_t port, std::shared_ptr<const station::StationSnapshot> snapshot) {
    window_.events(static_cast<int>(port)).on_snapshot(snapshot);
    state_.ports[port] = std::move(snapshot);
    publish();
  }

  void post(std::size_t port, line::Command command) override {
    posted.push_back(command);
    if (!std::holds_alternative<line::ResetShift>(command)) return;
    (void)port;
    shift_ = line::Tally{};
    for (line::Tally& tally : port_tallies_) tally = line::Tally{};
    for (line::Counts& counts : state_.port_counts) counts = line::Counts{};
    state_.totals.shift = line::Counts{};
    ++state_.shift_resets;
    publish();
  }
  std::shared_ptr<const station::StationSnapshot> port_snapshot(std::size_t) const override { return nullptr; }

  std::vector<line::Command> posted;

 private:
  void publish() {
    ++state_.sequence;
    window_.line_events().on_snapshot(std::make_shared<const line::LineSnapshot>(state_));
  }

  MainWindow& window_;
  line::LineSnapshot state_;
  line::Tally shift_;
  line::Tally today_;
  std::vector<line::Tally> port_tallies_;
};

}  // namespace skav::gui::test

#pragma once

// The line as a window's tests need it, without stations: a port's snapshot or finished board
// reaches the window from the port and, as the line publishes it, in a LineSnapshot. For the
// Qt window and the Win32 window alike (`Window`: events(port), line_events(), set_input()).

#include <cstddef>
#include <filesystem>
#include <memory>
#include <utility>
#include <variant>
#include <vector>

#include "core/station/records.h"
#include "core/station/station_events.h"
#include "line/line.h"
#include "line/router.h"
#include "line/totals.h"

namespace skav::test {

// The line's own router says which port the typing goes to and the line's tallies count the
// boards; what the window posts is kept, and a ResetShift empties the shift as the line does.
template <typename Window>
class FakeLine : public line::PortInput {
 public:
  // `records_file`: today's boards before the first (none: today starts at nothing).
  FakeLine(Window& window, std::size_t ports, const std::filesystem::path& records_file = {})
      : window_(window), router_(ports), port_tallies_(ports) {
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
  FakeLine(const FakeLine&) = delete;
  FakeLine& operator=(const FakeLine&) = delete;

  // Port `port`'s station published `snapshot`.
  void show(std::size_t port, std::shared_ptr<const station::StationSnapshot> snapshot) {
    window_.events(static_cast<int>(port)).on_snapshot(snapshot);
    router_.on_entry(port, snapshot->entry_pending, snapshot->entry_counter);
    state_.ports[port] = std::move(snapshot);
    state_.typing_port = router_.next_port();
    state_.asking.assign(router_.open().begin(), router_.open().end());
    publish();
  }
  // Board `record` finished on port `port`.
  void finish(std::size_t port, const station::BoardRecord& record) {
    window_.events(static_cast<int>(port)).on_board_finished(record);
    line::add_board(state_.totals, shift_, today_, record);
    port_tallies_[port].add(record);
    state_.port_counts[port] = port_tallies_[port].counts();
    publish();
  }

  void post(std::size_t port, line::Command command) override {
    posted.emplace_back(port, command);
    if (!std::holds_alternative<line::ResetShift>(command)) return;
    shift_ = line::Tally{};
    for (line::Tally& tally : port_tallies_) tally = line::Tally{};
    for (line::Counts& counts : state_.port_counts) counts = line::Counts{};
    state_.totals.shift = line::Counts{};
    ++state_.shift_resets;
    publish();
  }
  std::shared_ptr<const station::StationSnapshot> port_snapshot(std::size_t port) const override {
    return port < state_.ports.size() ? state_.ports[port] : nullptr;
  }

  // What the window posted, port by port, in order.
  std::vector<std::pair<std::size_t, line::Command>> posted;

 private:
  void publish() {
    ++state_.sequence;
    window_.line_events().on_snapshot(std::make_shared<const line::LineSnapshot>(state_));
  }

  Window& window_;
  line::Router router_;
  line::LineSnapshot state_;
  line::Tally shift_;
  line::Tally today_;
  std::vector<line::Tally> port_tallies_;
};

}  // namespace skav::test

#include "line/line.h"

#include <type_traits>
#include <utility>

namespace skav::line {

// One port's station events: the line's view of the port first, then the face's own.
class Line::PortEvents : public station::StationEvents {
 public:
  PortEvents(Line& line, std::size_t port, station::StationEvents* inner)
      : line_(line), port_(port), inner_(inner) {}
  void on_snapshot(std::shared_ptr<const station::StationSnapshot> snapshot) override {
    line_.on_port_snapshot(port_, snapshot);
    if (inner_ != nullptr) inner_->on_snapshot(std::move(snapshot));
  }
  void on_board_finished(const station::BoardRecord& record) override {
    line_.on_board_finished(port_, record);
    if (inner_ != nullptr) inner_->on_board_finished(record);
  }

 private:
  Line& line_;
  std::size_t port_;
  station::StationEvents* inner_;
};

Line::Line(LineParts parts, LineEvents* events)
    : events_(events),
      store_(std::move(parts.store)),
      pool_store_(std::move(parts.pool_store)),
      hold_(std::move(parts.hold)),
      pool_(std::move(parts.pool)),
      router_(parts.ports.size()) {
  state_.budget = parts.boards;
  state_.totals.shift_since = station::iso8601_now();
  state_.totals.date = date_of(state_.totals.shift_since);
  if (!parts.records_file.empty()) {
    today_tally_ = read_day(parts.records_file, state_.totals.date);
    state_.totals.today = today_tally_.counts();
  }
  state_.ports.resize(parts.ports.size());
  state_.port_counts.resize(parts.ports.size());
  port_tallies_.resize(parts.ports.size());
  for (std::size_t i = 0; i < parts.ports.size(); ++i) {
    PortParts& given = parts.ports[i];
    state_.port_names.push_back(given.name);
    auto port = std::make_unique<Port>();
    port->name = std::move(given.name);
    port->access = std::move(given.access);
    port->events = std::make_unique<PortEvents>(*this, i, given.events);
    station::StationOptions options = std::move(given.options);
    options.take_run = [this] { return take_run(); };
    port->station = std::make_unique<station::Station>(port->access->backend(), *store_, *pool_,
                                                       *given.log, port->events.get(),
                                                       std::move(options));
    ports_.push_back(std::move(port));
  }
  // The first snapshot, unless a station's own first one made it already.
  std::lock_guard lock(mutex_);
  make_snapshot_locked();
}

Line::~Line() { stop(); }

void Line::start(StartUps start_ups) {
  for (auto& port : ports_) {
    if (start_ups == StartUps::kPost) port->station->post_start_up();
    port->station->start();
    port->access->start();
  }
}

void Line::stop() {
  // A run waiting on the pool's database would otherwise hold its station for the call's limit.
  if (pool_) pool_->interrupt();
  // Every port hears it first: stopped one after another, a port would go on programming,
  // and take new boards and addresses, while the ports before it wound down.
  for (auto& port : ports_) port->station->request_stop();
  for (auto& port : ports_) port->station->stop();
  for (auto& port : ports_) port->access->stop();
}

void Line::step() {
  for (auto& port : ports_) {
    port->access->step();
    port->station->step();
  }
}

void post_to(station::Station& station, const Command& command) {
  std::visit(
      [&station](const auto& each) {
        using T = std::decay_t<decltype(each)>;
        if constexpr (std::is_same_v<T, StartUp>) {
          station.post_start_up();
        } else if constexpr (std::is_same_v<T, Key>) {
          station.post_key(each.c);
        } else if constexpr (std::is_same_v<T, ToggleBarcode>) {
          station.post_toggle_barcode();
        } else if constexpr (std::is_same_v<T, ApplyInterface>) {
          station.post_apply_interface(each.index, each.digits);
        }
      },
      command);
}

void StationsInput::post(std::size_t port, Command command) {
  if (port < stations_.size() && stations_[port] != nullptr) post_to(*stations_[port], command);
}

std::shared_ptr<const station::StationSnapshot> StationsInput::port_snapshot(std::size_t port) const {
  if (port >= stations_.size() || stations_[port] == nullptr) return nullptr;
  return stations_[port]->snapshot();
}

void Line::post(std::size_t port, Command command) {
  if (port >= ports_.size()) return;
  if (std::holds_alternative<ResetShift>(command)) {
    reset_shift();
    return;
  }
  post_to(*ports_[port]->station, command);
}

void Line::reset_shift() {
  std::shared_ptr<const LineSnapshot> made;
  {
    std::lock_guard lock(mutex_);
    shift_tally_ = Tally{};
    for (Tally& tally : port_tallies_) tally = Tally{};
    for (Counts& counts : state_.port_counts) counts = Counts{};
    state_.totals.shift = Counts{};
    state_.totals.shift_since = station::iso8601_now();
    ++state_.shift_resets;
    made = make_snapshot_locked();
  }
  publish(std::move(made));
}

std::shared_ptr<const station::StationSnapshot> Line::port_snapshot(std::size_t port) const {
  if (port >= ports_.size()) return nullptr;
  return ports_[port]->station->snapshot();
}

void Line::post_all(const Command& command) {
  for (std::size_t i = 0; i < ports_.size(); ++i) post(i, command);
}

std::optional<std::size_t> Line::type(char c) {
  std::optional<std::size_t> port;
  {
    std::lock_guard lock(mutex_);
    port = router_.route(c);
  }
  // Posted outside the lock: the station's answer comes back through on_port_snapshot.
  if (port) post(*port, Key{c});
  return port;
}

std::size_t Line::port_for_typing(std::size_t shown) const {
  std::lock_guard lock(mutex_);
  return router_.port_for_typing(shown);
}

bool Line::take_run() {
  std::shared_ptr<const LineSnapshot> made;
  {
    std::lock_guard lock(mutex_);
    if (state_.pool == PoolState::kExhausted) return false;
    if (state_.budget > 0 && state_.runs_started >= state_.budget) return false;
    ++state_.runs_started;
    made = make_snapshot_locked();
  }
  publish(std::move(made));
  return true;
}

void Line::on_port_snapshot(std::size_t port,
                            std::shared_ptr<const station::StationSnapshot> snapshot) {
  std::shared_ptr<const LineSnapshot> made;
  {
    std::lock_guard lock(mutex_);
    router_.on_entry(port, snapshot->entry_pending, snapshot->entry_counter);
    state_.ports[port] = std::move(snapshot);
    made = make_snapshot_locked();
  }
  publish(std::move(made));
}

void Line::on_board_finished(std::size_t port, const station::BoardRecord& record) {
  std::shared_ptr<const LineSnapshot> made;
  {
    std::lock_guard lock(mutex_);
    add_board(state_.totals, shift_tally_, today_tally_, record);
    port_tallies_[port].add(record);
    state_.port_counts[port] = port_tallies_[port].counts();
    made = make_snapshot_locked();
  }
  publish(std::move(made));
}

std::shared_ptr<const LineSnapshot> Line::make_snapshot_locked() {
  LineSnapshot& next = state_;
  next.boards_done = 0;
  bool running = false;
  bool waiting = false;
  std::string waiting_problem;
  for (const auto& port : next.ports) {
    if (!port) continue;
    next.boards_done += port->boards_done;
    if (port->run_status != station::RunStatus::kNoRun) running = true;
    if (port->pool_exhausted && next.pool != PoolState::kExhausted) {
      // Once for the line: the first port that finds the pool empty says why.
      next.pool = PoolState::kExhausted;
      next.pool_problem = port->pool_problem;
    }
    if (port->pool_waiting && !waiting) {
      waiting = true;
      waiting_problem = port->pool_problem;
    }
  }
  if (next.pool != PoolState::kExhausted) {
    next.pool = waiting ? PoolState::kWaiting : PoolState::kAvailable;
    next.pool_problem = waiting ? waiting_problem : std::string();
  }
  next.typing_port = router_.next_port();
  next.asking.assign(router_.open().begin(), router_.open().end());
  if (next.end == LineEnd::kRunning) {
    if (next.pool == PoolState::kExhausted && !running)
      next.end = LineEnd::kPoolExhausted;
    else if (next.budget > 0 && next.boards_done >= next.budget)
      next.end = LineEnd::kBoardsDone;
  }
  if (snapshot_) {
    // Published on change only: the sequence alone does not make news.
    LineSnapshot same = next;
    same.sequence = snapshot_->sequence;
    if (same.port_names == snapshot_->port_names && same.ports == snapshot_->ports &&
        same.totals == snapshot_->totals && same.port_counts == snapshot_->port_counts &&
        same.shift_resets == snapshot_->shift_resets &&
        same.typing_port == snapshot_->typing_port &&
        same.asking == snapshot_->asking && same.runs_started == snapshot_->runs_started &&
        same.boards_done == snapshot_->boards_done && same.pool == snapshot_->pool &&
        same.pool_problem == snapshot_->pool_problem && same.end == snapshot_->end)
      return nullptr;
  }
  ++next.sequence;
  snapshot_ = std::make_shared<const LineSnapshot>(next);
  changed_.notify_all();
  return snapshot_;
}

void Line::publish(std::shared_ptr<const LineSnapshot> snapshot) {
  if (!snapshot || events_ == nullptr) return;
  std::lock_guard lock(publish_mutex_);
  // A later snapshot may have been told already by another port's thread: never tell an
  // older one after it.
  if (snapshot->sequence <= told_) return;
  told_ = snapshot->sequence;
  events_->on_snapshot(std::move(snapshot));
}

std::shared_ptr<const LineSnapshot> Line::snapshot() const {
  std::lock_guard lock(mutex_);
  return snapshot_;
}

bool Line::wait_for(const std::function<bool(const LineSnapshot&)>& condition,
                    std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return condition(*snapshot_); });
}

}  // namespace skav::line

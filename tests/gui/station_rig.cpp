#include "station_rig.h"

#include <chrono>
#include <thread>

#include "frontends/qt/log_view.h"

namespace skav::gui::test {

// Each port's events on their way to the window, and the line's view of the prompts from them.
class StationRig::Prompts {
 public:
  Prompts(MainWindow& window, std::size_t ports) : window_(window), router_(ports) {
    state_.ports.resize(ports);
    for (std::size_t i = 0; i < ports; ++i) ports_.push_back(std::make_unique<Port>(*this, i));
  }
  station::StationEvents& events(std::size_t port) { return *ports_[port]; }

 private:
  class Port : public station::StationEvents {
   public:
    Port(Prompts& prompts, std::size_t port) : prompts_(prompts), port_(port) {}
    void on_snapshot(std::shared_ptr<const station::StationSnapshot> snapshot) override {
      prompts_.window_.events(static_cast<int>(port_)).on_snapshot(snapshot);
      prompts_.on_snapshot(port_, std::move(snapshot));
    }
    void on_board_finished(const station::BoardRecord& record) override {
      prompts_.window_.events(static_cast<int>(port_)).on_board_finished(record);
    }

   private:
    Prompts& prompts_;
    std::size_t port_;
  };

  void on_snapshot(std::size_t port, std::shared_ptr<const station::StationSnapshot> snapshot) {
    router_.on_entry(port, snapshot->entry_pending, snapshot->entry_counter);
    state_.ports[port] = std::move(snapshot);
    state_.typing_port = router_.next_port();
    state_.asking.assign(router_.open().begin(), router_.open().end());
    ++state_.sequence;
    window_.line_events().on_snapshot(std::make_shared<const line::LineSnapshot>(state_));
  }

  MainWindow& window_;
  line::Router router_;
  line::LineSnapshot state_;
  std::vector<std::unique_ptr<Port>> ports_;
};

StationRig::StationRig(int barcode, const sim::BoardOptions& board)
    : prompts_(std::make_unique<Prompts>(window, 1)) {
  add_port(barcode, board, 0);
}

StationRig::StationRig(int barcode, const std::vector<sim::BoardOptions>& boards)
    : prompts_(std::make_unique<Prompts>(window, boards.size())) {
  window.set_port_count(static_cast<int>(boards.size()));
  for (const sim::BoardOptions& board : boards) add_port(barcode, board, 1);
}

void StationRig::add_port(int barcode, const sim::BoardOptions& board, int line_length) {
  const int port = static_cast<int>(cores_.size());
  skav::test::RigOptions options;
  options.barcode = barcode;
  options.first_address = "";
  options.start_up = false;
  options.log = &window.log(port);
  options.events = &prompts_->events(static_cast<std::size_t>(port));
  if (port > 0) options.pool = &cores_.front()->pool;
  cores_.push_back(std::make_unique<skav::test::StationRig>(std::move(options)));
  cores_.back()->plug_line(board, line_length);
  stations.push_back(cores_.back()->station.get());
  station = stations.front();
  input_ = std::make_unique<line::StationsInput>(stations);
  window.set_input(input_.get());
  window.set_port_name(port, QStringLiteral("port%1").arg(port));
}

StationRig::~StationRig() {
  for (station::Station* each : stations) each->stop();
  window.set_input(nullptr);
}

void StationRig::settle() {
  for (station::Station* each : stations) each->run_commands();
}

bool StationRig::tick_until(const std::function<bool()>& done) {
  if (cores_.size() == 1) return cores_.front()->step_until(done);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    for (station::Station* each : stations) each->step();
    if (done()) return true;
    // The runs' workers do their work on their own threads; give them a moment.
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return false;
}

std::string StationRig::log_text() const { return window.log_view()->bytes(); }

std::string StationRig::digits() const { return MacDigits::text(station->mac_digits()); }

QString StationRig::dir_path(const QString& name) const {
  return QString::fromStdString((cores_.front()->dir / name.toStdString()).string());
}

}  // namespace skav::gui::test

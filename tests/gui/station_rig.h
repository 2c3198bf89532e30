#pragma once

#include <QColor>
#include <QTemporaryDir>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frontends/qt/main_window.h"
#include "line/line.h"
#include "support/rig.h"

namespace skav::gui::test {

// The verdict colours as the tests tell them apart.
inline bool reddish(const QColor& c) { return c.red() > 150 && c.green() < 100 && c.blue() < 100; }
inline bool greenish(const QColor& c) { return c.green() > 60 && c.red() < 60 && c.blue() < 100; }

// A window with its station on the shared test rig: the direct cable with a simulated board
// answering at once, settings and working folder in a temporary directory, the test's clock.
// The station is not started: tests drive it with settle() and tick_until().
// With several ports, each port is such a rig of its own (its cable, its folder and settings)
// and a tile of the window; every port takes its addresses from the first port's pool. The
// window hears of the line through a small stand-in: the ports' snapshots and which port the
// operator's typing goes to, by the line's own router (no counts: the line's tests have them).
class StationRig {
 public:
  // `barcode` is stored before start-up unless negative (then nothing is stored: a first start).
  // Every board on the line is made with `board`.
  explicit StationRig(int barcode = -1, const sim::BoardOptions& board = {});
  // A port for each of `boards` (two or more), each with a line of one board made with it.
  StationRig(int barcode, const std::vector<sim::BoardOptions>& boards);
  ~StationRig();
  StationRig(const StationRig&) = delete;
  StationRig& operator=(const StationRig&) = delete;

  // Carries out what the window posted to the stations.
  void settle();
  // Ticks every port until `done` holds (bounded). True when it held.
  bool tick_until(const std::function<bool()>& done);
  // Ticks until the (first port's) station asks for the MAC address.
  bool until_entry_pending() { return tick_until([this] { return station->entry_pending(); }); }

  // The selected port's log.
  std::string log_text() const;
  std::string digits() const;
  std::filesystem::path settings_path() const { return cores_.front()->dir / "settings.reg"; }
  QString dir_path(const QString& name) const;
  const std::filesystem::path& dir() const { return cores_.front()->dir.path(); }
  settings::FileSettingsStore& store() { return cores_.front()->store; }
  link::InMemoryBackend& backend() { return cores_.front()->backend(); }

  MainWindow window;
  station::Station* station = nullptr;  // the first port's
  std::vector<station::Station*> stations;

 private:
  void add_port(int barcode, const sim::BoardOptions& board, int line_length);

  class Prompts;
  std::unique_ptr<Prompts> prompts_;  // before the stations, which report to it
  std::vector<std::unique_ptr<skav::test::StationRig>> cores_;
  std::unique_ptr<line::StationsInput> input_;  // the window's input: every port's station
};

}  // namespace skav::gui::test

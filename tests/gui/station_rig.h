#pragma once

#include <QTemporaryDir>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "gui/main_window.h"
#include "support/rig.h"

namespace skav::gui::test {

// A window with its station on the shared test rig: the direct cable with a simulated board
// answering at once, settings and working folder in a temporary directory, the test's clock.
// The station is not started: tests drive it with settle() and tick_until().
class StationRig {
 public:
  // `barcode` is stored before start-up unless negative (then nothing is stored: a first start).
  // Every board on the line is made with `board`.
  explicit StationRig(int barcode = -1, const board::BoardOptions& board = {});
  ~StationRig();
  StationRig(const StationRig&) = delete;
  StationRig& operator=(const StationRig&) = delete;

  // Carries out what the window posted to the station.
  void settle() { station->run_commands(); }
  // Ticks until `done` holds (bounded). True when it held.
  bool tick_until(const std::function<bool()>& done) { return core_->step_until(done); }
  // Ticks until the station asks for the MAC address.
  bool until_entry_pending() { return tick_until([this] { return station->entry_pending(); }); }

  std::string log_text() const;
  std::string digits() const;
  std::filesystem::path settings_path() const { return core_->dir / "settings.reg"; }
  QString dir_path(const QString& name) const;
  const std::filesystem::path& dir() const { return core_->dir.path(); }
  settings::FileSettingsStore& store() { return core_->store; }

  MainWindow window;
  station::Station* station = nullptr;

 private:
  std::unique_ptr<skav::test::StationRig> core_;
};

}  // namespace skav::gui::test

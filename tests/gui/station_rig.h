#pragma once

#include <QTemporaryDir>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "board/sim_board.h"
#include "core/link/in_memory.h"
#include "core/settings/file_settings_store.h"
#include "core/station/station.h"
#include "gui/main_window.h"

namespace skav::gui::test {

// A window with its station over the in-process link, a simulated board answering on the
// other end, and settings and working folder in a temporary directory. The station is not
// started: tests drive it with tick().
class StationRig {
 public:
  // `barcode` is stored before start-up unless negative (then nothing is stored: a first start).
  explicit StationRig(int barcode = -1);
  ~StationRig();
  StationRig(const StationRig&) = delete;
  StationRig& operator=(const StationRig&) = delete;

  // Ticks until `done` holds, at most `limit` ticks. True when it held.
  bool tick_until(const std::function<bool()>& done, int limit = 100);
  // Ticks until the station asks for the MAC address.
  bool until_entry_pending() { return tick_until([this] { return station->entry_pending(); }); }

  std::string log_text() const;
  std::string digits() const;
  std::filesystem::path settings_path() const;

  QTemporaryDir dir;
  link::InMemoryWire wire;
  link::InMemoryBackend backend{wire};
  std::unique_ptr<settings::FileSettingsStore> store;
  MainWindow window;
  std::unique_ptr<station::Station> station;

 private:
  board::SimBoard board_{wire.board_end(), board::BoardOptions{}};
  std::atomic<bool> stop_board_{false};
  std::thread board_thread_;
};

}  // namespace skav::gui::test

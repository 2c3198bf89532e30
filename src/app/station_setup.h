#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "board/sim_board.h"
#include "core/log.h"
#include "core/settings/address_pool.h"
#include "core/settings/settings_store.h"
#include "core/station/station.h"
#include "core/status.h"
#include "core/transfer/block_transfer.h"

namespace skav::board {
class BoardLine;
}
namespace skav::link {
class FrameBackend;
class InMemoryWire;
}
namespace skav::settings {
class PoolHold;
}

namespace skav::app {

// How a front end wants its station. Options hold for this run only and are never stored,
// except `mac`, which sets the pool's next address as the Interface dialog would.
struct SetupOptions {
  std::string program = "skav";  // names the pool's holder to a second station
  // The adapter to use, by system name or description; empty: the stored NetIF.
  std::string interface;
  // Simulated boards on an in-process link instead of a real adapter (0: real).
  int simulate = 0;
  board::BoardOptions board;  // the simulated boards' options (MAC addresses count up)
  std::optional<bool> barcode;
  std::string mac;  // 12 hexadecimal digits, or empty
  // The settings file; empty: the platform's per-user store (see settings_place in
  // app/platform.h; a simulation has its own, so it never moves the real next address).
  std::filesystem::path settings;
  std::chrono::milliseconds timeout = transfer::kDefaultTimeout;
  std::filesystem::path dir = ".";
  std::chrono::milliseconds tick{100};
};

// A station with all it stands on: the adapter access (the platform's, or an in-process wire
// with a line of simulated boards), the settings store, the address pool, held by this process
// alone while it lives, and the station itself. Built the same way for every front end.
class StationSetup {
 public:
  // Builds it. Fails, leaving nothing behind, with a message for the operator when the named
  // adapter does not exist, `mac` is not 12 hexadecimal digits, or another station holds the
  // address pool (the message names it).
  static Status create(const SetupOptions& options, Log& log, station::StationEvents* events,
                       std::unique_ptr<StationSetup>& out);
  ~StationSetup();
  StationSetup(const StationSetup&) = delete;
  StationSetup& operator=(const StationSetup&) = delete;

  // Posts the station's start-up, starts its thread and the simulated boards. Returns at once.
  void start();
  // Stops the station (ending a run at its next wait) and the simulated boards. Idempotent.
  void stop();

  station::Station& station() { return *station_; }
  settings::SettingsStore& store();
  // The settings file (with the registry on Windows: the file whose lock holds the pool).
  const std::filesystem::path& settings_path() const { return settings_path_; }
  // The line of simulated boards; null on a real adapter.
  board::BoardLine* board_line() { return line_.get(); }

 private:
  StationSetup();

  std::filesystem::path settings_path_;
  std::unique_ptr<link::InMemoryWire> wire_;
  std::unique_ptr<link::FrameBackend> backend_;
  std::unique_ptr<board::BoardLine> line_;
  std::unique_ptr<settings::SettingsStore> store_;
  std::unique_ptr<settings::PoolHold> hold_;
  std::unique_ptr<settings::AddressPool> pool_;
  std::unique_ptr<station::Station> station_;
};

// The adapter's system name for a name or a description the operator gave; empty when none
// matches.
std::string find_adapter(link::FrameBackend& backend, const std::string& name_or_description);

}  // namespace skav::app

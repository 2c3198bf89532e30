#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_board.h"
#include "core/log.h"
#include "core/settings/address_pool.h"
#include "core/settings/settings_store.h"
#include "core/station/station.h"
#include "core/status.h"
#include "core/transfer/block_transfer.h"
#include "line/line.h"

namespace skav::link {
class FrameBackend;
}

namespace skav::app {

// How a front end wants its station. Options hold for this run only and are never stored,
// except `mac`, which sets the pool's next address as the Interface dialog would.
struct SetupOptions {
  std::string program = "skav";  // names the pool's holder to a second station
  // The adapter to use, by system name or description; empty: the stored NetIF.
  std::string interface;
  // Several adapters, one station (a port) for each, all on one address pool; when not empty
  // it takes the place of `interface`.
  std::vector<std::string> interfaces;
  // Simulated boards on an in-process link instead of a real adapter (0: real): `simulate`
  // boards on each of `ports` simulated ports (sim0, sim1, ...).
  int simulate = 0;
  int ports = 1;
  // Where the boards' addresses come from: "file:PATH" (the MACHWID of the settings store at
  // PATH, a relative one in `dir`, held by this process alone), "postgresql://..." (a line's range, shared), or empty
  // (the settings store's own MACHWID).
  std::string pool;
  // This station's name in a shared pool; empty: the host name.
  std::string host;
  sim::BoardOptions board;  // the simulated boards' options (MAC addresses count up)
  // With several simulated ports: `board.faults` only on the boards of this port (from 0), the
  // others are sound; -1: on every port.
  int faults_port = -1;
  std::optional<bool> barcode;
  std::string mac;  // 12 hexadecimal digits, or empty
  // The settings file; empty: the platform's per-user store (see settings_place in
  // app/platform.h; a simulation has its own, so it never moves the real next address).
  std::filesystem::path settings;
  std::chrono::milliseconds timeout = transfer::kDefaultTimeout;
  std::filesystem::path dir = ".";
  std::chrono::milliseconds tick{100};
  // The PC's address ledger that guards a file pool (not a simulation's): empty for
  // $SKAV_LEDGER, else the ledger file in platform::machine_data_folder().
  std::filesystem::path ledger;
  // The boards the station programs before it ends, over all its ports (0: no end): no run
  // starts beyond that many.
  int boards = 0;
};

// Where one port's station reports: its log and its events (null: none).
struct PortSinks {
  Log* log = nullptr;
  station::StationEvents* events = nullptr;
};
// Gives the sinks of port `index` (from 0) among `ports`, every port's adapter (system name) in
// order, so that a port's sinks can be told apart from the others' (port_log_names).
using SinksFor =
    std::function<PortSinks(std::size_t index, const std::vector<std::string>& ports)>;

// The builder of a station's line: a station for each port with all it stands on (the
// platform's adapter access, or an in-process wire with a line of simulated boards), the
// settings store and the address pool that all ports share (a file pool held by this process
// alone while the line lives), handed to the line that owns them. Built the same way for every
// front end.
class StationSetup {
 public:
  // Builds it. Fails, leaving nothing behind, with a message for the operator when a named
  // adapter does not exist or is named twice, `mac` is not 12 hexadecimal digits, the pool URL
  // is not one or carries a password, the line's database has no range, or another station
  // holds a file pool (the message names it). The sinks must outlive the set-up. `events`
  // (may be null) hears the line's snapshots.
  static Status create(const SetupOptions& options, const SinksFor& sinks,
                       std::unique_ptr<StationSetup>& out, line::LineEvents* events = nullptr);
  // One port (or every port) reporting to `log` and `events`.
  static Status create(const SetupOptions& options, Log& log, station::StationEvents* events,
                       std::unique_ptr<StationSetup>& out) {
    return create(options, [&log, events](std::size_t, const std::vector<std::string>&) {
      return PortSinks{&log, events};
    }, out);
  }
  // A window's line: on the adapters named for this run (`options.interface(s)`), else on
  // `stored_ports` when a window stored more than one, else one port on the stored NetIF.
  // When the stored ports cannot all be opened (an adapter went away) the line has one port on
  // NetIF, so that the operator can choose again, and its log says why. `prepare` is called
  // before each try with the number of ports it makes and gives the sinks for them.
  static Status create_with_stored_ports(
      SetupOptions options, const std::vector<std::string>& stored_ports,
      const std::function<SinksFor(std::size_t ports)>& prepare,
      std::unique_ptr<StationSetup>& out, line::LineEvents* events = nullptr);
  ~StationSetup();
  StationSetup(const StationSetup&) = delete;
  StationSetup& operator=(const StationSetup&) = delete;

  // The line: its ports, their stations, the pool and the run budget.
  line::Line& line() { return *line_; }
  // Where the PC's address ledger does not guard this station's file pool for want of its
  // folder: what to tell the operator (standard error, the panel; not the log). Else empty.
  const std::string& ledger_note() const { return ledger_note_; }
  // The settings file (with the registry on Windows: the file whose lock holds the pool).
  const std::filesystem::path& settings_path() const { return settings_path_; }

 private:
  StationSetup();
  // The pool of `options.pool` (pool_factory.h).
  Status make_pool(const SetupOptions& options, Log& log);

  std::filesystem::path settings_path_;
  std::string ledger_note_;
  // What the line is built from, until it is.
  std::unique_ptr<settings::SettingsStore> store_;
  std::unique_ptr<settings::FileSettingsStore> pool_store_;  // a file pool apart from the settings
  std::unique_ptr<settings::PoolHold> hold_;
  std::unique_ptr<settings::AddressPool> pool_;
  // The pool's own watcher of the line, and the face's events with it; both outlive the line.
  std::unique_ptr<line::LineEvents> watcher_;
  std::unique_ptr<line::LineEvents> both_events_;
  std::unique_ptr<line::Line> line_;
};

// The file names the ports' logs get, in the ports' order: the adapter's name with every
// character other than a letter, a digit, '-', '_' or '.' replaced by '_', then ".log"
// ("eth0.log"). A port keeps its file from run to run and never shares it with another port:
// - a name that lost characters that way ends in '-' and 8 hexadecimal digits of a hash of the
//   whole name before ".log" ("a:b" gives "a_b-1a2b3c4d.log", while "a_b" gives "a_b.log");
// - names that would still be equal ignoring case (one file where a file system ignores case)
//   all get that ending;
// - any still equal after that (two hashes alike) get "-2", "-3", ... in port order.
std::vector<std::string> port_log_names(const std::vector<std::string>& ports);

// The adapter's system name for what the operator gave: a system name, else a friendly name
// or a description that one adapter alone has. Empty with `problem` set when none fits: no
// such adapter, several of that name, or the adapters could not be listed (with the
// platform's reason, which names what to install when the capture library is missing).
std::string find_adapter(link::FrameBackend& backend, const std::string& wanted,
                         std::string& problem);

}  // namespace skav::app

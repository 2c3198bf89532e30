#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/station_setup.h"
#include "frontends/cli/commands.h"
#include "frontends/cli/keyboard.h"
#include "frontends/cli/port_output.h"
#include "frontends/cli/run_summary.h"
#include "frontends/cli/settings_option.h"
#include "app/stop_signal.h"
#include "frontends/cli/terminal.h"
#include "core/station/station.h"

namespace skav::cli {

namespace {

struct RunOptions {
  std::vector<std::string> interfaces;  // one port per adapter
  int simulate = 0;  // boards per port; 0: real adapter
  int ports = 1;     // simulated ports
  std::string pool;
  bool barcode = false;
  bool no_barcode = false;
  std::string mac;
  int boards = 0;
  std::string settings;
  int timeout = 30;
  std::string dir = ".";
  int tick_ms = 100;  // the Station Cycle's period; shorter only for tests
};

// The sinks of every port: with one port the log on standard output; with several each
// port's log in its own file and prefixed on standard output.
struct PortReports {
  StdoutLog stdout_log;
  PrefixedOutput prefixed;
  std::vector<std::unique_ptr<PortLog>> logs;
  std::vector<std::unique_ptr<RunSummary>> events;
  std::vector<std::unique_ptr<PortEvents>> routed;
};

int total_boards(app::StationSetup& setup) {
  int total = 0;
  for (std::size_t i = 0; i < setup.port_count(); ++i) total += setup.station(i).boards_done();
  return total;
}

// The pool has no address left and no port is programming a board: the line has stopped.
bool line_stopped(app::StationSetup& setup, std::string& message) {
  bool exhausted = false;
  for (std::size_t i = 0; i < setup.port_count(); ++i) {
    auto snapshot = setup.station(i).snapshot();
    if (snapshot->run_status != station::RunStatus::kNoRun) return false;
    if (snapshot->pool_exhausted) {
      exhausted = true;
      message = snapshot->pool_problem;
    }
  }
  return exhausted;
}

int run_station(const RunOptions& options) {
  app::SetupOptions setup_options;
  setup_options.program = "skav run";
  if (options.interfaces.size() == 1) setup_options.interface = options.interfaces.front();
  if (options.interfaces.size() > 1) setup_options.interfaces = options.interfaces;
  setup_options.simulate = options.simulate;
  setup_options.ports = options.ports;
  setup_options.pool = options.pool;
  if (options.barcode || options.no_barcode) setup_options.barcode = options.barcode;
  setup_options.mac = options.mac;
  setup_options.settings = options.settings;
  setup_options.timeout = std::chrono::seconds(options.timeout);
  setup_options.dir = options.dir;
  setup_options.tick = std::chrono::milliseconds(options.tick_ms);
  setup_options.boards = options.boards;
  const bool several = options.interfaces.size() > 1 || (options.simulate > 0 && options.ports > 1);
  const std::size_t port_count = several ? std::max<std::size_t>(options.interfaces.size(),
                                                                 static_cast<std::size_t>(options.ports))
                                         : 1;
  PortReports reports;
  KeyRouter router(port_count);
  std::string failed_log;
  auto sinks = [&](std::size_t index, const std::vector<std::string>& ports) -> app::PortSinks {
    const std::string& port = ports[index];
    if (!several) {
      reports.events.push_back(std::make_unique<RunSummary>(stderr, isatty(STDERR_FILENO) == 1));
      RunSummary* summary = reports.events.back().get();
      reports.stdout_log.set_before_write([summary] { summary->clear_live(); });
      reports.routed.push_back(std::make_unique<PortEvents>(index, router, *summary));
      return {&reports.stdout_log, reports.routed.back().get()};
    }
    std::string file =
        (std::filesystem::path(options.dir) / app::port_log_names(ports)[index]).string();
    auto log = std::make_unique<PortLog>(port, file, reports.prefixed);
    if (!log->ok()) {
      failed_log = file;
      return {};
    }
    reports.logs.push_back(std::move(log));
    // Several ports share standard error: no live line, and each line names its port.
    reports.events.push_back(std::make_unique<RunSummary>(stderr, false, port + ": "));
    reports.routed.push_back(std::make_unique<PortEvents>(index, router, *reports.events.back()));
    return {reports.logs.back().get(), reports.routed.back().get()};
  };
  std::unique_ptr<app::StationSetup> setup;
  if (Status made = app::StationSetup::create(setup_options, sinks, setup); !made.ok()) {
    if (!failed_log.empty())
      std::fprintf(stderr, "skav run: cannot write the port's log %s\n", failed_log.c_str());
    else
      std::fprintf(stderr, "skav run: %s\n", made.message().c_str());
    return 1;
  }
  if (!setup->ledger_note().empty()) std::fprintf(stderr, "skav run: %s\n", setup->ledger_note().c_str());
  const std::atomic<bool>& interrupted = app::install_stop_signals();
  setup->start();
  // A station that cannot open its adapters cannot program the boards it was asked for.
  for (std::size_t i = 0; i < setup->port_count(); ++i) {
    station::Station& station = setup->station(i);
    station.wait_for([](const station::StationSnapshot& s) { return s.start_ups > 0; },
                     std::chrono::seconds(60));
    if (options.boards > 0 && !station.snapshot()->adapter_open) {
      setup->stop();
      return 1;
    }
  }
  std::string exhausted;
  {
    KeyboardReader keyboard([&](char c) {
      if (std::optional<std::size_t> port = router.route(c)) setup->station(*port).post_key(c);
    });
    while (!interrupted.load()) {
      if (line_stopped(*setup, exhausted)) break;
      if (options.boards > 0 && total_boards(*setup) >= options.boards) break;
      // Any port's news ends the wait early; the others are looked at within 200 ms.
      setup->station(0).wait_for(
          [&](const station::StationSnapshot& s) {
            return s.pool_exhausted || (options.boards > 0 && s.boards_done >= options.boards);
          },
          std::chrono::milliseconds(200));
    }
    setup->stop();
  }
  for (auto& summary : reports.events) summary->finish();
  // A record that is not stored, or an outcome the database has not taken, is a promise not
  // kept: the run does not end well, whatever the boards did.
  bool unkept = false;
  for (std::size_t i = 0; i < setup->port_count(); ++i) {
    auto snapshot = setup->station(i).snapshot();
    if (snapshot->records_kept == 0) continue;
    std::fprintf(stderr, "skav run: %d production record%s of %s not written: %s\n", snapshot->records_kept,
                 snapshot->records_kept == 1 ? "" : "s", setup->port_name(i).c_str(),
                 snapshot->record_problem.c_str());
    unkept = true;
  }
  if (settings::PoolResult<std::size_t> flushed = setup->pool().flush_outcomes(); flushed.value > 0) {
    const std::size_t unsent = flushed.value;
    const std::string& why = flushed.message;
    std::fprintf(stderr, "skav run: %zu record%s not sent to the line's database (%s); kept on disk and "
                 "sent at the next start\n", unsent, unsent == 1 ? "" : "s", why.c_str());
    unkept = true;
  }
  if (!exhausted.empty()) {
    std::fprintf(stderr, "skav run: the line has stopped: %s\n", exhausted.c_str());
    return 1;
  }
  if (options.boards > 0 && total_boards(*setup) < options.boards) return 1;
  return unkept ? 1 : 0;
}

}  // namespace

void add_run_command(CLI::App& app, int& exit_code) {
  auto options = std::make_shared<RunOptions>();
  CLI::App* run = app.add_subcommand("run", "Run the station: program one board after another");
  auto* interface = run->add_option("--interface", options->interfaces,
                                    "Adapter (system name) leading to the boards; once per port");
  auto* simulate = run->add_option("--simulate", options->simulate,
                                   "Program N simulated boards (per port) over the in-process link (default 3)")
                       ->expected(0, 1)
                       ->default_str("3")
                       ->excludes(interface);
  run->add_option("--ports", options->ports, "With --simulate: K simulated ports")
      ->check(CLI::Range(1, 16))
      ->needs(simulate);
  run->add_option("--pool", options->pool,
                  "Address pool: file:PATH (default: the settings store) or postgresql://...");
  auto* barcode = run->add_flag("--barcode", options->barcode, "Ask for each board's MAC address");
  run->add_flag("--no-barcode", options->no_barcode, "Give each board the next MAC address")
      ->excludes(barcode);
  run->add_option("--mac", options->mac, "MAC address for the next board (12 hexadecimal digits)");
  run->add_option("--boards", options->boards, "End after N boards (over all ports)")->check(CLI::PositiveNumber);
  add_settings_option(*run, options->settings);
  run->add_option("--timeout", options->timeout,
                  "Whole seconds of silence (1 or more) before a board is given up")
      ->check(CLI::Range(1, 86400));
  run->add_option("-C", options->dir, "Working directory: config.ini, images, records")
      ->check(CLI::ExistingDirectory);
  // For tests only (long simulated shifts in little time): not shown in the help.
  run->add_option("--tick-ms", options->tick_ms,
                  "For tests only: the Station Cycle period in milliseconds")
      ->check(CLI::Range(1, 1000))
      ->group("");
  run->callback([options, &exit_code] {
    RunOptions o = *options;
    exit_code = run_station(o);
  });
}

}  // namespace skav::cli

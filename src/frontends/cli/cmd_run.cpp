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

#include "app/cli_options.h"
#include "app/station_setup.h"
#include "frontends/cli/commands.h"
#include "frontends/cli/keyboard.h"
#include "frontends/cli/port_output.h"
#include "frontends/cli/run_summary.h"
#include "app/stop_signal.h"
#include "frontends/cli/terminal.h"
#include "core/platform/utf8.h"
#include "core/station/station.h"
#include "line/line.h"
#include "line/run_end.h"

namespace skav::cli {

namespace {

// The sinks of every port: with one port the log on standard output; with several each
// port's log in its own file and prefixed on standard output.
struct PortReports {
  StdoutLog stdout_log;
  PrefixedOutput prefixed;
  std::vector<std::unique_ptr<PortLog>> logs;
  std::vector<std::unique_ptr<RunSummary>> events;
};

int run_station(const app::SetupOptions& options) {
  app::SetupOptions setup_options = options;
  setup_options.program = "skav run";
  const bool several = options.interfaces.size() > 1 || (options.simulate > 0 && options.ports > 1);
  PortReports reports;
  std::string failed_log;
  auto sinks = [&](std::size_t index, const std::vector<std::string>& ports) -> app::PortSinks {
    const std::string& port = ports[index];
    if (!several) {
      const bool terminal = isatty(STDERR_FILENO) == 1;
      reports.events.push_back(std::make_unique<RunSummary>(stderr, terminal));
      RunSummary* summary = reports.events.back().get();
      // The log and the lines beside it on one terminal take turns on its rows.
      if (terminal && isatty(STDOUT_FILENO) == 1) reports.stdout_log.share(&summary->terminal());
      return {&reports.stdout_log, summary};
    }
    const std::filesystem::path file = options.dir / platform::path_from_utf8(app::port_log_names(ports)[index]);
    auto log = std::make_unique<PortLog>(port, file, reports.prefixed);
    if (!log->ok()) {
      failed_log = platform::utf8_of(file);
      return {};
    }
    reports.logs.push_back(std::move(log));
    // Several ports share standard error: no live line, and each line names its port.
    reports.events.push_back(std::make_unique<RunSummary>(stderr, false, port + ": "));
    if (isatty(STDOUT_FILENO) == 1 && isatty(STDERR_FILENO) == 1) reports.events.back()->share(&reports.prefixed);
    return {reports.logs.back().get(), reports.events.back().get()};
  };
  std::unique_ptr<app::StationSetup> setup;
  if (Status made = app::StationSetup::create(setup_options, sinks, setup); !made.ok()) {
    if (!failed_log.empty())
      print(stderr, "skav run: cannot write the port's log %s\n", failed_log.c_str());
    else
      print(stderr, "skav run: %s\n", made.message().c_str());
    return static_cast<int>(line::ExitCode::kStationUnable);
  }
  if (!setup->ledger_note().empty()) print(stderr, "skav run: %s\n", setup->ledger_note().c_str());
  const std::atomic<bool>& interrupted = app::install_stop_signals();
  line::Line& line = setup->line();
  line.start();
  // A station that cannot open its adapters cannot program the boards it was asked for.
  for (std::size_t i = 0; i < line.port_count(); ++i) {
    station::Station& station = line.station(i);
    station.wait_for([](const station::StationSnapshot& s) { return s.start_ups > 0; },
                     std::chrono::seconds(60));
    if (options.boards > 0 && !station.snapshot()->adapter_open) {
      line.stop();
      return static_cast<int>(line::ExitCode::kStationUnable);
    }
  }
  std::string exhausted;
  line::RunEnd end;
  {
    KeyboardReader keyboard([&line](char c) { line.type(c); });
    while (!interrupted.load()) {
      // Any port's news ends the wait early; a stop signal is looked at within 200 ms.
      if (line.wait_for([](const line::LineSnapshot& s) { return s.done(); },
                        std::chrono::milliseconds(200)))
        break;
    }
    std::shared_ptr<const line::LineSnapshot> last = line.snapshot();
    if (last->end == line::LineEnd::kPoolExhausted) exhausted = last->pool_problem;
    end.add_last(*last);
    line.stop();
  }
  std::vector<present::Totals> port_totals;
  for (auto& summary : reports.events) {
    summary->finish();
    port_totals.push_back(summary->totals());
    end.boards_failed += summary->run_end().boards_failed;
  }
  if (std::optional<std::string> total = line_totals_line(port_totals)) print(stderr, "%s\n", total->c_str());
  // A record that is not stored, or an outcome the database has not taken, is a promise not
  // kept: the run does not end well, whatever the boards did.
  for (std::size_t i = 0; i < line.port_count(); ++i) {
    auto snapshot = line.station(i).snapshot();
    end.add_stopped(*snapshot);
    if (snapshot->records_kept == 0) continue;
    print(stderr, "skav run: %d production record%s of %s not written: %s\n", snapshot->records_kept,
                 snapshot->records_kept == 1 ? "" : "s", line.port_name(i).c_str(),
                 snapshot->record_problem.c_str());
  }
  if (settings::PoolResult<std::size_t> flushed = line.pool().flush_outcomes(); flushed.value > 0) {
    const std::size_t unsent = flushed.value;
    const std::string& why = flushed.message;
    print(stderr, "skav run: %zu record%s not sent to the line's database (%s); kept on disk and "
                 "sent at the next start\n", unsent, unsent == 1 ? "" : "s", why.c_str());
    end.records_unwritten = true;
  }
  if (!exhausted.empty()) print(stderr, "skav run: the line has stopped: %s\n", exhausted.c_str());
  return static_cast<int>(line::exit_code(end));
}

}  // namespace

// For the scripts and controllers that start the station: what its end means.
constexpr const char* kExitCodes =
    "Exit codes:\n"
    "  0  every board passed\n"
    "  1  a board failed or timed out\n"
    "  2  the station ended unable to work: in a station error, without its adapter, without a\n"
    "     usable address pool or with the address range used up, or with production records\n"
    "     unwritten (a fault it recovered from does not count)";

void add_run_command(CLI::App& app, int& exit_code) {
  auto options = std::make_shared<app::SetupOptions>();
  CLI::App* run = app.add_subcommand("run", "Run the station: program one board after another");
  app::add_station_options(*run, app::kCliRun, *options);
  run->footer(kExitCodes);
  run->callback([options, &exit_code] { exit_code = run_station(*options); });
}

}  // namespace skav::cli

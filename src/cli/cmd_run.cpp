#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>

#include "app/station_setup.h"
#include "cli/commands.h"
#include "cli/keyboard.h"
#include "cli/settings_option.h"
#include "app/stop_signal.h"
#include "cli/terminal.h"
#include "core/station/station.h"

namespace skav::cli {

namespace {

struct RunOptions {
  std::string interface;
  int simulate = 0;  // boards; 0: real adapter
  bool barcode = false;
  bool no_barcode = false;
  std::string mac;
  int boards = 0;
  std::string settings;
  int timeout = 30;
  std::string dir = ".";
  int tick_ms = 100;  // the Station Cycle's period; shorter only for tests
};

// Status text and progress on standard error, from the station's snapshots; a progress line
// only on a terminal.
class CliEvents : public station::StationEvents {
 public:
  CliEvents() : terminal_(isatty(STDERR_FILENO) == 1) {}
  void on_snapshot(std::shared_ptr<const station::StationSnapshot> snapshot) override {
    std::lock_guard lock(mutex_);
    if (snapshot->status_text != status_) {
      status_ = snapshot->status_text;
      clear_progress();
      std::fprintf(stderr, "%s\n", status_.c_str());
    }
    show_progress(*snapshot);
  }

 private:
  void show_progress(const station::StationSnapshot& snapshot) {
    if (!terminal_) return;
    const station::StepView* running = nullptr;
    if (snapshot.board && !snapshot.board->finished)
      for (const station::StepView& step : snapshot.board->steps)
        if (step.state == station::StepView::State::kRunning && step.total > 0) running = &step;
    if (running == nullptr) {
      clear_progress();
      return;
    }
    std::fprintf(stderr, "\r%s %3d%%", running->name(),
                 static_cast<int>(std::min(running->done, running->total) * 100 / running->total));
    progress_shown_ = true;
  }
  void clear_progress() {
    if (!progress_shown_) return;
    std::fprintf(stderr, "\r\033[K");
    progress_shown_ = false;
  }
  std::mutex mutex_;
  bool terminal_;
  bool progress_shown_ = false;
  std::string status_;
};

int run_station(const RunOptions& options) {
  StdoutLog log;
  CliEvents events;
  app::SetupOptions setup_options;
  setup_options.program = "skav run";
  setup_options.interface = options.interface;
  setup_options.simulate = options.simulate;
  if (options.barcode || options.no_barcode) setup_options.barcode = options.barcode;
  setup_options.mac = options.mac;
  setup_options.settings = options.settings;
  setup_options.timeout = std::chrono::seconds(options.timeout);
  setup_options.dir = options.dir;
  setup_options.tick = std::chrono::milliseconds(options.tick_ms);
  std::unique_ptr<app::StationSetup> setup;
  if (Status made = app::StationSetup::create(setup_options, log, &events, setup); !made.ok()) {
    std::fprintf(stderr, "skav run: %s\n", made.message().c_str());
    return 1;
  }
  station::Station& station = setup->station();
  const std::atomic<bool>& interrupted = app::install_stop_signals();
  setup->start();
  // A station that cannot open its adapter cannot program the boards it was asked for.
  station.wait_for([](const station::StationSnapshot& s) { return s.start_ups > 0; },
                   std::chrono::seconds(60));
  if (options.boards > 0 && !station.snapshot()->adapter_open) {
    setup->stop();
    return 1;
  }
  {
    KeyboardReader keyboard(station);
    while (!interrupted.load()) {
      if (options.boards > 0 && station.wait_boards_done(options.boards, std::chrono::milliseconds(200)))
        break;
      if (options.boards == 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    setup->stop();
  }
  if (options.boards > 0 && station.boards_done() < options.boards) return 1;
  return 0;
}

}  // namespace

void add_run_command(CLI::App& app, int& exit_code) {
  auto options = std::make_shared<RunOptions>();
  CLI::App* run = app.add_subcommand("run", "Run the station: program one board after another");
  auto* interface =
      run->add_option("--interface", options->interface, "Adapter (system name) leading to the boards");
  run->add_option("--simulate", options->simulate,
                  "Program N simulated boards over the in-process link (default 3)")
      ->expected(0, 1)
      ->default_str("3")
      ->excludes(interface);
  auto* barcode = run->add_flag("--barcode", options->barcode, "Ask for each board's MAC address");
  run->add_flag("--no-barcode", options->no_barcode, "Give each board the next MAC address")
      ->excludes(barcode);
  run->add_option("--mac", options->mac, "MAC address for the next board (12 hexadecimal digits)");
  run->add_option("--boards", options->boards, "End after N boards")->check(CLI::PositiveNumber);
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

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>

#include "board/board_line.h"
#include "cli/commands.h"
#include "cli/settings_option.h"
#include "cli/stop_signal.h"
#include "cli/terminal.h"
#include "core/link/in_memory.h"
#include "core/settings/file_settings_store.h"
#include "core/station/station.h"
#include "pcap/pcap_backend.h"

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
  double timeout = 30;
  std::string dir = ".";
  int tick_ms = 100;  // the Station Cycle's period; shorter only for tests
};

// Status text and progress on standard error; a progress line only on a terminal.
class CliEvents : public station::StationEvents {
 public:
  CliEvents() : terminal_(isatty(STDERR_FILENO) == 1) {}
  void on_status_text(const std::string& text) override {
    std::lock_guard lock(mutex_);
    clear_progress();
    std::fprintf(stderr, "%s\n", text.c_str());
  }
  void on_progress(const std::string& section, std::uint64_t done, std::uint64_t total) override {
    if (!terminal_ || total == 0) return;
    std::lock_guard lock(mutex_);
    std::fprintf(stderr, "\r%s %3d%%", section.c_str(), static_cast<int>(done * 100 / total));
    progress_shown_ = true;
  }
  void on_progress_end() override {
    std::lock_guard lock(mutex_);
    clear_progress();
  }
  void on_run_active(bool) override {}
  void on_board_finished(const station::BoardRecord&) override {}

 private:
  void clear_progress() {
    if (!progress_shown_) return;
    std::fprintf(stderr, "\r\033[K");
    progress_shown_ = false;
  }
  std::mutex mutex_;
  bool terminal_;
  bool progress_shown_ = false;
};

// The operator's characters from standard input: each byte one character; "\n", "\r" and
// "\r\n" are one Enter; 0x08 and 0x7f are Backspace. A terminal is switched to
// character-at-a-time input without echo (the log echoes), and restored at the end.
class KeyboardReader {
 public:
  explicit KeyboardReader(station::Station& station) : station_(station) {
    if (isatty(STDIN_FILENO) == 1 && tcgetattr(STDIN_FILENO, &saved_) == 0) {
      termios raw = saved_;
      raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
      raw.c_cc[VMIN] = 1;
      raw.c_cc[VTIME] = 0;
      restore_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    }
    thread_ = std::thread([this] { read_loop(); });
  }
  ~KeyboardReader() {
    stop_ = true;
    thread_.join();
    if (restore_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  }

 private:
  void read_loop() {
    bool after_cr = false;
    while (!stop_.load()) {
      pollfd pfd{STDIN_FILENO, POLLIN, 0};
      if (poll(&pfd, 1, 100) <= 0) continue;
      char buffer[256];
      ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
      if (n <= 0) return;  // end of input: the station goes on without an operator
      for (ssize_t i = 0; i < n; ++i) {
        char c = buffer[i];
        if (c == '\n' && after_cr) {
          after_cr = false;
          continue;
        }
        after_cr = c == '\r';
        if (c == '\n' || c == '\r') c = 13;
        if (c == 0x7f) c = 8;
        station_.key_char(c);
      }
    }
  }

  station::Station& station_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  termios saved_{};
  bool restore_ = false;
};

int find_adapter(link::FrameBackend& backend, const std::string& name) {
  link::AdapterListing listing = backend.list_adapters();
  for (std::size_t i = 0; i < listing.adapters.size(); ++i)
    if (listing.adapters[i].name == name) return static_cast<int>(i);
  return -1;
}

int run_station(const RunOptions& options) {
  StdoutLog log;
  std::unique_ptr<link::InMemoryWire> wire;
  std::unique_ptr<link::FrameBackend> backend;
  std::unique_ptr<board::BoardLine> boards;
  std::string adapter = options.interface;
  if (options.simulate > 0) {
    wire = std::make_unique<link::InMemoryWire>();
    backend = std::make_unique<link::InMemoryBackend>(*wire);
    adapter = link::InMemoryBackend::kAdapterName;
  } else {
    backend = std::make_unique<pcap::PcapBackend>();
  }

  std::filesystem::path settings_path = settings::FileSettingsStore::path_for(options.settings, options.simulate > 0);
  settings::FileSettingsStore store(settings_path);
  // The command line's choices are stored as the window's commands would store them, before
  // the start-up reads them back.
  if (!adapter.empty()) {
    int index = find_adapter(*backend, adapter);
    if (index < 0) {
      std::fprintf(stderr, "skav run: no adapter named %s (see skav adapters)\n", adapter.c_str());
      return 1;
    }
    store.number_write(&log, settings::kNetIF, index);
  }
  if (options.barcode || options.no_barcode)
    store.number_write(&log, settings::kBarCode, options.barcode ? 1 : 0);
  if (!options.mac.empty()) {
    MacDigits::Digits digits;
    if (!MacDigits::parse(options.mac, digits)) {
      std::fprintf(stderr, "skav run: --mac needs 12 hexadecimal digits, not %s\n",
                   options.mac.c_str());
      return 1;
    }
    store.machwid_write(&log, digits);
  }

  station::StationOptions station_options;
  station_options.dir = options.dir;
  station_options.transfer_timeout =
      std::chrono::milliseconds(static_cast<long long>(options.timeout * 1000));
  station_options.tick_period = std::chrono::milliseconds(options.tick_ms);
  CliEvents events;
  station::Station station(*backend, store, log, &events, station_options);
  station.start_up();
  if (!station.link().is_open() && options.boards > 0) return 1;

  if (wire) {
    // Finished boards are not kept: a long simulated shift must not grow.
    boards = std::make_unique<board::BoardLine>(wire->board_end(), board::BoardOptions{},
                                                options.simulate, false);
    boards->start();
  }

  const std::atomic<bool>& interrupted = install_stop_signals();
  {
    KeyboardReader keyboard(station);
    station.start();
    while (!interrupted.load()) {
      if (options.boards > 0 && station.wait_boards_done(options.boards, std::chrono::milliseconds(200)))
        break;
      if (options.boards == 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    station.stop();
  }
  if (boards) boards->stop();
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
  run->add_option("--timeout", options->timeout, "Seconds of silence before a board is given up")
      ->check(CLI::PositiveNumber);
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

// skav-gui.exe: the station's window on Win32.

#include <windows.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/station_setup.h"
#include "sim/board_line.h"
#include "core/station/records.h"
#include "frontends/win32/main_window.h"
#include "frontends/win32/window_choices.h"

namespace {

using skav::windows::gui::MainWindow;

constexpr int kMaxPorts = 16;

struct CommandLine {
  int simulate = 0;        // simulated boards on the in-process link; 0: the adapter's link
  int ports = 1;           // with `simulate`: simulated ports, a tile each
  std::vector<std::string> interfaces;  // adapters for this run, one port each
  std::string settings;    // settings file; empty: the registry
  std::string dir = ".";   // where config.ini, the images and the records are
  int timeout_seconds = 0;  // a transfer's time-out; 0: the station's default
  std::string log_file;    // a saved log to open at start; empty: a new log
  // Hidden, for the documentation's picture: written once `simulate` boards are done (or
  // after `screenshot_timeout` seconds), then the window closes.
  std::string screenshot;
  int screenshot_timeout = 300;
};

// The picture's state, for the timer callbacks (one window per process).
struct Screenshot {
  MainWindow* window = nullptr;
  std::wstring file;
  int boards = 0;
  int done = 0;
  int exit_code = 1;
};
Screenshot g_screenshot;

void CALLBACK take_screenshot(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  Screenshot& s = g_screenshot;
  bool saved = s.window->save_picture(s.file);
  if (s.done < s.boards) std::fprintf(stderr, "skav-gui: only %d of %d boards done\n", s.done, s.boards);
  if (!saved) std::fprintf(stderr, "skav-gui: could not write the picture\n");
  s.exit_code = s.done >= s.boards && saved ? 0 : 1;
  DestroyWindow(s.window->handle());
}

void arrange_screenshot(MainWindow& window, const CommandLine& options) {
  g_screenshot.window = &window;
  g_screenshot.file = std::filesystem::path(options.screenshot).wstring();
  g_screenshot.boards = options.simulate > 0 ? options.simulate * options.ports : 1;
  window.set_on_board_finished([](int count) {
    g_screenshot.done = count;
    // A moment for the station to log its return to searching.
    if (count == g_screenshot.boards) SetTimer(nullptr, 0, 800, take_screenshot);
  });
  SetTimer(nullptr, 0, static_cast<UINT>(options.screenshot_timeout) * 1000u, take_screenshot);
}

void complain(const std::string& text) {
  std::fprintf(stderr, "skav-gui: %s\n", text.c_str());
  MessageBoxA(nullptr, text.c_str(), "SKAV", MB_OK | MB_ICONERROR);
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine options;
  CLI::App parser{"SKAV factory programming station: the operator's window", "skav-gui"};
  parser.add_option("--simulate", options.simulate,
                    "Program N simulated boards over the in-process link (default 3)")
      ->expected(0, 1)
      ->default_str("3");
  CLI::Option* ports = parser.add_option(
      "--ports", options.ports, "With --simulate: K simulated ports (1 to 16), a tile each.");
  parser.add_option("--interface", options.interfaces,
                    "An adapter (system name or description) for this run only; once per port.");
  parser.add_option("--settings", options.settings,
                    "Settings file (default: the registry, HKEY_CURRENT_USER\\Software\\SKAV)");
  parser.add_option("-C", options.dir, "Working directory: config.ini, images, records")
      ->check(CLI::ExistingDirectory);
  parser.add_option("--timeout", options.timeout_seconds,
                    "Whole seconds of silence before a board is given up")
      ->check(CLI::Range(1, 86400));
  parser.add_option("file", options.log_file, "A saved log to open");
  parser.add_option("--screenshot", options.screenshot)->group("");
  parser.add_option("--screenshot-timeout", options.screenshot_timeout)->group("");
  try {
    parser.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fprintf(stdout, "%s", parser.help().c_str());
    return 0;
  } catch (const CLI::ParseError& error) {
    complain(std::string(error.what()) + "\nTry skav-gui --help.");
    return 2;
  }
  // The same checks, in the same words, as the Qt window's.
  std::string wrong;
  if (options.simulate > 0 && !options.interfaces.empty()) {
    wrong = "--interface and --simulate exclude each other.";
  } else if (ports->count() > 0 && options.simulate == 0) {
    wrong = "--ports needs --simulate (real ports: --interface once per port).";
  } else if (options.ports < 1 || options.ports > kMaxPorts) {
    wrong = "--ports needs a number from 1 to 16.";
  } else if (options.interfaces.size() > static_cast<std::size_t>(kMaxPorts)) {
    wrong = "At most 16 ports.";
  }
  if (!wrong.empty()) {
    complain(wrong + "\nTry skav-gui --help.");
    return 2;
  }

  HINSTANCE instance = GetModuleHandleA(nullptr);
  skav::app::SetupOptions setup_options;
  setup_options.program = "skav-gui";
  setup_options.simulate = options.simulate;
  setup_options.ports = options.ports;
  setup_options.settings = options.settings;
  setup_options.dir = options.dir;
  if (options.timeout_seconds > 0)
    setup_options.timeout = std::chrono::seconds(options.timeout_seconds);
  // The adapters named for this run, else the ports the Interface dialog chose, else one port on
  // the stored NetIF.
  std::vector<std::string> interfaces = options.interfaces;
  const skav::windows::gui::WindowChoices choices;
  const bool stored_ports = options.simulate == 0 && interfaces.empty() && choices.ports().size() > 1;
  if (stored_ports) interfaces = choices.ports();

  std::unique_ptr<MainWindow> window;
  std::unique_ptr<skav::app::StationSetup> setup;
  auto make = [&](const std::vector<std::string>& adapters) {
    if (window != nullptr) {
      window.reset();
      // The closed window's quit message would end the next window's loop at once.
      MSG quit;
      PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    }
    window = std::make_unique<MainWindow>();
    if (!window->create(instance)) return skav::Status::error(-1, "the window could not be created");
    setup_options.interface = adapters.size() == 1 ? adapters.front() : std::string();
    setup_options.interfaces = adapters.size() > 1 ? adapters : std::vector<std::string>{};
    const std::size_t count = options.simulate > 0 ? static_cast<std::size_t>(options.ports)
                                                   : std::max<std::size_t>(adapters.size(), 1);
    window->set_port_count(static_cast<int>(count));
    window->set_ports_choice(options.simulate == 0);
    MainWindow* shown = window.get();
    return skav::app::StationSetup::create(
        setup_options,
        [shown](std::size_t index, const std::vector<std::string>&) {
          const auto port = static_cast<int>(index);
          if (port >= shown->port_count()) return skav::app::PortSinks{};
          return skav::app::PortSinks{&shown->log(port), &shown->events(port)};
        },
        setup);
  };
  skav::Status made = make(interfaces);
  if (!made.ok() && stored_ports) {
    // The stored ports cannot all be opened (an adapter went away): one port on NetIF, so that
    // the operator can choose again.
    const std::string why = made.message();
    made = make({});
    if (made.ok()) skav::log_sink(&window->log(), "Several ports not opened: %s\r\n", why.c_str());
  }
  if (!made.ok()) {
    complain(made.message());
    return 1;
  }
  const int port_count = static_cast<int>(setup->port_count());
  for (int i = 0; i < port_count; ++i)
    window->set_station(i, &setup->station(static_cast<std::size_t>(i)),
                        setup->port_name(static_cast<std::size_t>(i)));
  window->set_notice(setup->ledger_note());
  window->set_records_file(std::filesystem::path(setup_options.dir) / skav::station::kRecordsFile);
  // A log file named on the command line is opened as Open would, start-up included.
  window->open_at_start(options.log_file);
  ShowWindow(window->handle(), SW_SHOW);
  UpdateWindow(window->handle());
  for (int i = 0; i < port_count; ++i) {
    setup->station(static_cast<std::size_t>(i)).start();
    if (skav::sim::BoardLine* line = setup->board_line(static_cast<std::size_t>(i))) line->start();
  }
  if (!options.screenshot.empty()) arrange_screenshot(*window, options);

  int code = window->run();
  // Ends a run at its next wait and joins the station's threads; the window is gone by now,
  // and what the station still tells it is dropped.
  setup->stop();
  for (int i = 0; i < port_count; ++i) window->set_station(i, nullptr, {});
  return options.screenshot.empty() ? code : g_screenshot.exit_code;
}

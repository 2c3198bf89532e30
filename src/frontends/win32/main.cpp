// skav-gui.exe: the station's window on Win32.

#include <windows.h>

#include <CLI/CLI.hpp>

#include <chrono>
#include <filesystem>
#include <cstdio>
#include <memory>
#include <string>

#include "app/station_setup.h"
#include "line/line.h"
#include "core/station/records.h"
#include "frontends/win32/main_window.h"

namespace {

using skav::windows::gui::MainWindow;

struct CommandLine {
  int simulate = 0;        // simulated boards on the in-process link; 0: the adapter's link
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
  g_screenshot.boards = options.simulate > 0 ? options.simulate : 1;
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

  HINSTANCE instance = GetModuleHandleA(nullptr);
  MainWindow window;
  if (!window.create(instance)) {
    complain("the window could not be created");
    return 1;
  }
  skav::app::SetupOptions setup_options;
  setup_options.program = "skav-gui";
  setup_options.simulate = options.simulate;
  setup_options.settings = options.settings;
  setup_options.dir = options.dir;
  if (options.timeout_seconds > 0)
    setup_options.timeout = std::chrono::seconds(options.timeout_seconds);
  std::unique_ptr<skav::app::StationSetup> setup;
  if (skav::Status made =
          skav::app::StationSetup::create(setup_options, window.log(), &window.events(), setup);
      !made.ok()) {
    complain(made.message());
    return 1;
  }
  skav::line::Line& line = setup->line();
  window.set_station(&line.station(0));
  window.set_notice(setup->ledger_note());
  window.set_records_file(std::filesystem::path(setup_options.dir) / skav::station::kRecordsFile);
  // A log file named on the command line is opened as Open would, start-up included.
  window.open_at_start(options.log_file);
  ShowWindow(window.handle(), SW_SHOW);
  UpdateWindow(window.handle());
  // The window posted the start-up as it opened its log.
  line.start(skav::line::StartUps::kByFace);
  if (!options.screenshot.empty()) arrange_screenshot(window, options);

  int code = window.run();
  // Ends a run at its next wait and joins the station's threads; the window is gone by now,
  // and what the station still tells it is dropped.
  line.stop();
  window.set_station(nullptr);
  return options.screenshot.empty() ? code : g_screenshot.exit_code;
}

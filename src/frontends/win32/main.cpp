// skav-gui.exe: the station's window on Win32.

#include <windows.h>
#include <shellapi.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/cli_options.h"
#include "app/platform.h"
#include "core/platform/wide_windows.h"
#include "app/station_setup.h"
#include "line/line.h"
#include "frontends/win32/main_window.h"
#include "frontends/win32/window_choices.h"
#include "present/interface_choice.h"

namespace {

using skav::windows::gui::MainWindow;

struct CommandLine {
  skav::app::SetupOptions setup;  // the station's options (app/options.h)
  std::string log_file;    // a saved log to open at start (UTF-8); empty: a new log
  // Hidden, for the documentation's picture: written once `simulate` boards are done (or
  // after `screenshot_timeout` seconds), then the window closes.
  std::string screenshot;
  int screenshot_timeout = 300;
  // Hidden, for pictures at a screen's size: "1366x768", the window's outer size in pixels.
  std::string size;
};

// "1366x768" as a width and a height above 0; false for anything else.
bool parse_size(const std::string& text, int& width, int& height) {
  char x = 0, rest = 0;
  return std::sscanf(text.c_str(), "%d%c%d%c", &width, &x, &height, &rest) == 3 && x == 'x' && width > 0 &&
         height > 0;
}

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
  g_screenshot.file = skav::app::utf8_path(options.screenshot).wstring();
  g_screenshot.boards =
      options.setup.simulate > 0 ? options.setup.simulate * std::max(options.setup.ports, 1) : 1;
  window.set_on_board_finished([](int count) {
    g_screenshot.done = count;
    // A moment for the station to log its return to searching.
    if (count == g_screenshot.boards) SetTimer(nullptr, 0, 800, take_screenshot);
  });
  SetTimer(nullptr, 0, static_cast<UINT>(options.screenshot_timeout) * 1000u, take_screenshot);
}

void complain(const std::string& text) {
  skav::app::write_text(stderr, "skav-gui: " + text + "\n");
  MessageBoxW(nullptr, skav::platform::wide_of(text).c_str(), L"SKAV", MB_OK | MB_ICONERROR);
}

}  // namespace

int main() {
  CommandLine options;
  CLI::App parser{"SKAV factory programming station: the operator's window", "skav-gui"};
  skav::app::add_station_options(parser, skav::app::kWin32Window, options.setup);
  parser.add_option("file", options.log_file, "A saved log to open");
  parser.add_option("--screenshot", options.screenshot)->group("");
  parser.add_option("--screenshot-timeout", options.screenshot_timeout)->group("");
  parser.add_option("--size", options.size)->group("");
  const std::vector<std::string> arguments = skav::app::utf8_arguments(__argc, __argv);
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  try {
    parser.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::CallForHelp&) {
    // A window program has no console when started from Explorer or a shortcut: the help goes
    // to standard output for a redirected start, and into a message box for the operator.
    const std::string help = parser.help();
    std::fprintf(stdout, "%s", help.c_str());
    std::fflush(stdout);
    MessageBoxW(nullptr, skav::platform::wide_of(help).c_str(), L"SKAV", MB_OK | MB_ICONINFORMATION);
    return 0;
  } catch (const CLI::ParseError& error) {
    complain(std::string(error.what()) + "\nTry skav-gui --help.");
    return 2;
  }

  int width = 0, height = 0;
  if (!options.size.empty() && !parse_size(options.size, width, height)) {
    complain("--size needs WIDTHxHEIGHT in pixels.");
    return 2;
  }

  HINSTANCE instance = GetModuleHandleA(nullptr);
  skav::app::SetupOptions setup_options = options.setup;
  setup_options.program = "skav-gui";
  // The adapters named for this run, else the ports the Interface dialog chose, else one port on
  // the stored NetIF.
  const skav::windows::gui::WindowChoices choices;
  std::unique_ptr<MainWindow> window;
  // The line is made with each try's window: its snapshots go to whichever window is the
  // latest.
  struct ToWindow : skav::line::LineEvents {
    explicit ToWindow(std::unique_ptr<MainWindow>& shown) : window(shown) {}
    void on_snapshot(std::shared_ptr<const skav::line::LineSnapshot> snapshot) override {
      if (window) window->line_events().on_snapshot(std::move(snapshot));
    }
    std::unique_ptr<MainWindow>& window;
  } to_window(window);
  std::unique_ptr<skav::app::StationSetup> setup;
  bool created = true;
  // A window for each try, with a tile for each port the try makes.
  auto prepare = [&](std::size_t count) -> skav::app::SinksFor {
    if (window != nullptr) {
      window.reset();
      // The closed window's quit message would end the next window's loop at once.
      MSG quit;
      PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    }
    window = std::make_unique<MainWindow>();
    created = window->create(instance);
    if (created) {
      window->set_port_count(static_cast<int>(count));
      window->set_ports_choice(setup_options.simulate == 0);
    }
    MainWindow* shown = window.get();
    return [shown, ok = created](std::size_t index, const std::vector<std::string>&) {
      const auto port = static_cast<int>(index);
      if (!ok || port >= shown->port_count()) return skav::app::PortSinks{};
      return skav::app::PortSinks{&shown->log(port), &shown->events(port)};
    };
  };
  skav::Status made = skav::app::StationSetup::create_with_stored_ports(setup_options, choices.ports(),
                                                                      prepare, setup, &to_window);
  if (!created) {
    complain("the window could not be created");
    return 1;
  }
  if (!made.ok()) {
    complain(made.message());
    return 1;
  }
  skav::line::Line& line = setup->line();
  const int port_count = static_cast<int>(line.port_count());
  window->set_input(&line);
  // The tiles name each port's adapter as Windows shows it ("Ethernet 2"), not by its system
  // name; the system name stays the port's key.
  skav::link::AdapterListing listing;
  if (setup_options.simulate == 0) listing = skav::app::make_adapter_backend()->list_adapters();
  for (int i = 0; i < port_count; ++i) {
    window->set_port_name(i, skav::present::port_label(line.port_name(static_cast<std::size_t>(i)),
                                                       listing.adapters));
  }
  window->set_notice(setup->ledger_note());
  // A log file named on the command line is opened as Open would, start-up included.
  window->open_at_start(options.log_file);
  if (width > 0)
    SetWindowPos(window->handle(), nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(window->handle(), SW_SHOW);
  UpdateWindow(window->handle());
  // The window posted the start-ups as it opened its logs.
  line.start(skav::line::StartUps::kByFace);
  if (!options.screenshot.empty()) arrange_screenshot(*window, options);

  int code = window->run();
  // Ends a run at its next wait and joins the station's threads; the window is gone by now,
  // and what the station still tells it is dropped.
  line.stop();
  window->set_input(nullptr);
  setup.reset();  // the line goes before the window its snapshots go to
  return options.screenshot.empty() ? code : g_screenshot.exit_code;
}

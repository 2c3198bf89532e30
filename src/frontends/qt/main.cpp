// skav-gui: the station's window.

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/platform.h"
#include "app/station_setup.h"
#include "core/log.h"
#include "core/station/station.h"
#include "line/line.h"
#include "frontends/qt/app_icon.h"
#include "frontends/qt/command_line.h"
#include "frontends/qt/main_window.h"
#include "frontends/qt/operator_panel.h"
#include "present/interface_choice.h"

namespace {

// Grabs the window into `file` once `boards` boards are done, or when `timeout_seconds` pass,
// then quits. Quits with 1 when the boards were not all done or the file was not written.
void arrange_screenshot(QApplication& app, skav::gui::MainWindow& window, const QString& file,
                        int boards, int timeout_seconds) {
  auto grab = [&app, &window, file, boards] {
    bool done = window.boards_finished() >= boards;
    bool saved = window.grab().save(file, "PNG");
    if (!done) std::fprintf(stderr, "skav-gui: only %d of %d boards done\n", window.boards_finished(), boards);
    if (!saved) std::fprintf(stderr, "skav-gui: could not write %s\n", qPrintable(file));
    app.exit(done && saved ? 0 : 1);
  };
  QObject::connect(&window, &skav::gui::MainWindow::board_finished, &window,
                   [grab, boards](int count) {
                     // A moment for the station to log its return to searching.
                     if (count == boards) QTimer::singleShot(800, grab);
                   });
  QTimer::singleShot(std::chrono::seconds(timeout_seconds), grab);
}

}  // namespace

int main(int argc, char** argv) {
  // --help and --version answer before the window's application exists: they need no display
  // (a terminal without one, an installer's check). The parse is made again below, once the
  // application has taken its own options (-platform, ...) out of the arguments.
  {
    QCoreApplication early(argc, argv);
    skav::gui::CommandLine ignored;
    skav::gui::ParseResult parsed = skav::gui::parse_command_line(QCoreApplication::arguments(), ignored);
    if (parsed.kind == skav::gui::ParseResult::kHelp || parsed.kind == skav::gui::ParseResult::kVersion) {
      std::fprintf(stdout, "%s\n", qPrintable(parsed.text));
      return 0;
    }
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("SKAV"));
  QApplication::setApplicationVersion(QStringLiteral("1.0"));
  QApplication::setWindowIcon(skav::gui::app_icon());

  skav::gui::CommandLine options;
  skav::gui::ParseResult parsed = skav::gui::parse_command_line(QApplication::arguments(), options);
  switch (parsed.kind) {
    case skav::gui::ParseResult::kHelp:
    case skav::gui::ParseResult::kVersion:
      std::fprintf(stdout, "%s\n", qPrintable(parsed.text));
      return 0;
    case skav::gui::ParseResult::kError:
      std::fprintf(stderr, "skav-gui: %s\nTry skav-gui --help.\n", qPrintable(parsed.text));
      return 2;
    case skav::gui::ParseResult::kRun:
      break;
  }

  skav::app::SetupOptions setup_options = options.setup;
  setup_options.program = "skav-gui";
  // The adapters named for this run, else the ports the Interface dialog chose, else one port on
  // the stored NetIF.
  std::vector<std::string> interfaces = options.setup.interfaces;
  setup_options.interface = interfaces.size() == 1 ? interfaces.front() : std::string();
  setup_options.interfaces = interfaces.size() > 1 ? interfaces : std::vector<std::string>{};
  std::vector<std::string> stored;
  for (const QString& name : skav::gui::MainWindow::stored_ports()) stored.push_back(name.toStdString());

  std::unique_ptr<skav::gui::MainWindow> window;
  // The line is made with each try's window: its snapshots go to whichever window is the
  // latest.
  struct ToWindow : skav::line::LineEvents {
    explicit ToWindow(std::unique_ptr<skav::gui::MainWindow>& shown) : window(shown) {}
    void on_snapshot(std::shared_ptr<const skav::line::LineSnapshot> snapshot) override {
      if (window) window->line_events().on_snapshot(std::move(snapshot));
    }
    std::unique_ptr<skav::gui::MainWindow>& window;
  } to_window(window);
  std::unique_ptr<skav::app::StationSetup> setup;
  // A window for each try, with a tile for each port the try makes.
  auto prepare = [&](std::size_t count) -> skav::app::SinksFor {
    window = std::make_unique<skav::gui::MainWindow>();
    window->set_port_count(static_cast<int>(count));
    window->set_ports_choice(setup_options.simulate == 0);
    skav::gui::MainWindow* shown = window.get();
    return [shown](std::size_t index, const std::vector<std::string>&) {
      auto port = static_cast<int>(index);
      if (port >= shown->port_count()) return skav::app::PortSinks{};
      return skav::app::PortSinks{&shown->log(port), &shown->events(port)};
    };
  };
  skav::Status made =
      skav::app::StationSetup::create_with_stored_ports(setup_options, stored, prepare, setup,
                                                       &to_window);
  if (!made.ok()) {
    std::fprintf(stderr, "skav-gui: %s\n", made.message().c_str());
    QMessageBox::critical(nullptr, QStringLiteral("SKAV"), QString::fromStdString(made.message()));
    return 1;
  }
  skav::line::Line& line = setup->line();
  const int ports = static_cast<int>(line.port_count());
  window->set_input(&line);
  // The tiles name each port's adapter as the system shows it to the operator, not by its
  // system name; the system name stays the port's key.
  skav::link::AdapterListing listing;
  if (setup_options.simulate == 0) listing = skav::app::make_adapter_backend()->list_adapters();
  for (int i = 0; i < ports; ++i)
    window->set_port_name(i, QString::fromStdString(skav::present::port_label(
                                 line.port_name(static_cast<std::size_t>(i)), listing.adapters)));
  window->operator_panel()->set_notice(QString::fromStdString(setup->ledger_note()));
  if (options.width > 0) window->resize(options.width, options.height);
  // A log file named on the command line is opened as Open would, start-up included.
  window->open_at_start(options.log_file);
  window->show();
  // The window posted the start-ups as it opened its logs.
  line.start(skav::line::StartUps::kByFace);
  if (!options.screenshot.isEmpty())
    arrange_screenshot(app, *window, options.screenshot,
                       setup_options.simulate > 0 ? setup_options.simulate * ports : 1,
                       options.screenshot_timeout);

  int code = QApplication::exec();
  // Ends a run at its next wait and joins the station's threads before the window goes.
  line.stop();
  window->set_input(nullptr);
  setup.reset();  // the line goes before the window its snapshots go to
  return code;
}

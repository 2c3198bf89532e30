// skav-gui: the station's window.

#include <QApplication>
#include <QPixmap>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <memory>

#include "board/board_line.h"
#include "core/link/in_memory.h"
#include "core/settings/file_settings_store.h"
#include "core/station/station.h"
#include "gui/app_icon.h"
#include "gui/command_line.h"
#include "gui/main_window.h"
#include "pcap/pcap_backend.h"

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

  skav::settings::FileSettingsStore store(skav::settings::FileSettingsStore::path_for(
      options.settings.toStdString(), options.simulate > 0));

  std::unique_ptr<skav::link::InMemoryWire> wire;
  std::unique_ptr<skav::link::FrameBackend> backend;
  std::unique_ptr<skav::board::BoardLine> line;
  if (options.simulate > 0) {
    wire = std::make_unique<skav::link::InMemoryWire>();
    backend = std::make_unique<skav::link::InMemoryBackend>(*wire);
    line = std::make_unique<skav::board::BoardLine>(wire->board_end(), skav::board::BoardOptions{},
                                                    options.simulate, false);
  } else {
    backend = std::make_unique<skav::pcap::PcapBackend>();
  }

  skav::gui::MainWindow window;
  // The simulated link has one adapter, "sim0": it is the one to open, whatever the store
  // held before.
  if (options.simulate > 0) store.number_write(&window.log(), skav::settings::kNetIF, 0);
  skav::station::StationOptions station_options;
  station_options.dir = options.dir.toStdString();
  if (options.timeout_seconds > 0)
    station_options.transfer_timeout = std::chrono::seconds(options.timeout_seconds);
  skav::station::Station station(*backend, store, window.log(), &window.events(), station_options);
  window.set_station(&station);
  station.start_up();
  window.show();
  if (line) line->start();
  station.start();
  if (!options.screenshot.isEmpty())
    arrange_screenshot(app, window, options.screenshot, options.simulate > 0 ? options.simulate : 1,
                       options.screenshot_timeout);

  int code = QApplication::exec();
  // Ends a run at its next wait and joins the station's threads before the window goes.
  station.stop();
  window.set_station(nullptr);
  if (line) line->stop();
  return code;
}

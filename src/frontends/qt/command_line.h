#pragma once

#include <QString>
#include <QStringList>

namespace skav::gui {

// skav-gui [--interface NAME... | --simulate[=N] [--ports K]] [--pool URL] [--settings FILE]
//          [-C DIR] [--timeout S] [FILE]
struct CommandLine {
  int simulate = 0;         // simulated boards on the in-process link; 0: the libpcap link
  int ports = 1;            // simulated ports (with `simulate`)
  // Adapters for this run only, one port each; empty: the stored choice.
  QStringList interfaces;
  QString pool;             // where the addresses come from; empty: the settings store
  QString settings;         // settings file; empty: the per-user default
  QString dir = QStringLiteral(".");  // where config.ini, the images and the records are
  int timeout_seconds = 0;  // a transfer's time-out; 0: the station's default
  QString log_file;         // a saved log to open at start; empty: a new log
  // Hidden, for the documentation's screenshot: grab the window into this PNG once
  // `simulate` boards are done (or after `screenshot_timeout` seconds) and quit.
  QString screenshot;
  int screenshot_timeout = 300;
  // Hidden, for the documentation too: the window's size in pixels (0: its default), and a
  // simulated board fault, the Nth read of each board sending one byte changed (0: none).
  int width = 0;
  int height = 0;
  int corrupt_read = 0;
  // With several simulated ports, the fault only on this port (from 0); -1: on every port.
  int fault_port = -1;
};

inline constexpr int kMaxPorts = 16;

struct ParseResult {
  enum Kind { kRun, kHelp, kVersion, kError } kind = kRun;
  QString text;  // the usage for kHelp, the version for kVersion, the complaint for kError
};

inline constexpr int kDefaultSimulatedBoards = 3;

// Parses the arguments, the program's name first.
ParseResult parse_command_line(const QStringList& arguments, CommandLine& out);

}  // namespace skav::gui

#pragma once

#include <QString>
#include <QStringList>

#include "app/options.h"

namespace skav::gui {

// skav-gui [--interface NAME... | --simulate[=N] [--ports K]] [--pool URL] [--settings FILE]
//          [-C DIR] [--timeout S] [FILE]
struct CommandLine {
  // The station's options, from the options every face shares (app/options.h); `program`
  // is left for main() to name.
  app::SetupOptions setup;
  QString log_file;  // a saved log to open at start; empty: a new log
  // Hidden, for the documentation's screenshot: grab the window into this PNG once
  // `simulate` boards are done (or after `screenshot_timeout` seconds) and quit.
  QString screenshot;
  int screenshot_timeout = 300;
  // Hidden, for the documentation too: the window's size in pixels (0: its default).
  int width = 0;
  int height = 0;
};

struct ParseResult {
  enum Kind { kRun, kHelp, kVersion, kError } kind = kRun;
  QString text;  // the usage for kHelp, the version for kVersion, the complaint for kError
};

// Parses the arguments, the program's name first.
ParseResult parse_command_line(const QStringList& arguments, CommandLine& out);

}  // namespace skav::gui

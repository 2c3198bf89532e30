#include "frontends/qt/command_line.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace skav::gui {

namespace {

bool parse_positive(const QString& text, int& out) {
  bool ok = false;
  int value = text.toInt(&ok);
  if (!ok || value <= 0) return false;
  out = value;
  return true;
}

}  // namespace

ParseResult parse_command_line(const QStringList& arguments, CommandLine& out) {
  ParseResult result;
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("SKAV factory programming station"));
  QCommandLineOption help = parser.addHelpOption();
  QCommandLineOption version = parser.addVersionOption();
  QCommandLineOption simulate(
      QStringLiteral("simulate"),
      QStringLiteral("--simulate[=N]: run against N (default %1) simulated boards over the "
                     "in-process link instead of a network adapter.")
          .arg(kDefaultSimulatedBoards));
  QCommandLineOption ports(QStringLiteral("ports"),
                           QStringLiteral("With --simulate: K simulated ports (1 to %1), a tile each.")
                               .arg(kMaxPorts),
                           QStringLiteral("K"));
  QCommandLineOption interface(QStringLiteral("interface"),
                               QStringLiteral("An adapter (system name or description) for this run "
                                              "only; once per port."),
                               QStringLiteral("NAME"));
  QCommandLineOption pool(QStringLiteral("pool"),
                          QStringLiteral("Address pool: file:PATH (default: the settings store) or "
                                         "postgresql://... (a line's range)."),
                          QStringLiteral("URL"));
  QCommandLineOption settings(QStringLiteral("settings"),
                              QStringLiteral("The settings file (default: the per-user one)."),
                              QStringLiteral("FILE"));
  QCommandLineOption dir(QStringList{QStringLiteral("C"), QStringLiteral("directory")},
                         QStringLiteral("Folder with config.ini and the images (default: .)."),
                         QStringLiteral("DIR"));
  QCommandLineOption timeout(QStringLiteral("timeout"),
                             QStringLiteral("Whole seconds (1 or more) a transfer waits for the board."),
                             QStringLiteral("S"));
  parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("A saved log to open."),
                               QStringLiteral("[FILE]"));
  QCommandLineOption screenshot(QStringLiteral("screenshot"), QString(), QStringLiteral("FILE"));
  screenshot.setFlags(QCommandLineOption::HiddenFromHelp);
  QCommandLineOption screenshot_timeout(QStringLiteral("screenshot-timeout"), QString(),
                                        QStringLiteral("S"));
  screenshot_timeout.setFlags(QCommandLineOption::HiddenFromHelp);
  QCommandLineOption size(QStringLiteral("size"), QString(), QStringLiteral("WxH"));
  size.setFlags(QCommandLineOption::HiddenFromHelp);
  QCommandLineOption corrupt_read(QStringLiteral("simulate-corrupt-read"), QString(), QStringLiteral("N"));
  corrupt_read.setFlags(QCommandLineOption::HiddenFromHelp);
  QCommandLineOption fault_port(QStringLiteral("simulate-fault-port"), QString(), QStringLiteral("K"));
  fault_port.setFlags(QCommandLineOption::HiddenFromHelp);
  parser.addOptions({simulate, ports, interface, pool, settings, dir, timeout, screenshot, screenshot_timeout,
                     size, corrupt_read, fault_port});

  // The parser has no optional values: take "--simulate=N" apart first.
  QStringList args;
  int boards = 0;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& arg = arguments[i];
    if (i > 0 && arg.startsWith(QStringLiteral("--simulate="))) {
      if (!parse_positive(arg.mid(11), boards)) {
        result.kind = ParseResult::kError;
        result.text = QStringLiteral("--simulate=N needs a number of boards above 0.");
        return result;
      }
      args << QStringLiteral("--simulate");
    } else {
      args << arg;
    }
  }
  if (!parser.parse(args)) {
    result.kind = ParseResult::kError;
    result.text = parser.errorText();
    return result;
  }
  if (parser.isSet(help)) {
    result.kind = ParseResult::kHelp;
    result.text = parser.helpText();
    return result;
  }
  if (parser.isSet(version)) {
    result.kind = ParseResult::kVersion;
    result.text = QStringLiteral("skav-gui 1.0");
    return result;
  }
  // One file name: the log text to open, as Open would.
  const QStringList files = parser.positionalArguments();
  if (files.size() > 1) {
    result.kind = ParseResult::kError;
    result.text = QStringLiteral("Unexpected argument: %1").arg(files[1]);
    return result;
  }
  if (!files.isEmpty()) out.log_file = files.first();
  if (parser.isSet(simulate)) out.simulate = boards > 0 ? boards : kDefaultSimulatedBoards;
  out.interfaces = parser.values(interface);
  if (out.simulate > 0 && !out.interfaces.isEmpty()) {
    result.kind = ParseResult::kError;
    result.text = QStringLiteral("--interface and --simulate exclude each other.");
    return result;
  }
  if (parser.isSet(ports)) {
    if (out.simulate == 0) {
      result.kind = ParseResult::kError;
      result.text = QStringLiteral("--ports needs --simulate (real ports: --interface once per port).");
      return result;
    }
    if (!parse_positive(parser.value(ports), out.ports) || out.ports > kMaxPorts) {
      result.kind = ParseResult::kError;
      result.text = QStringLiteral("--ports needs a number from 1 to %1.").arg(kMaxPorts);
      return result;
    }
  }
  if (out.interfaces.size() > kMaxPorts) {
    result.kind = ParseResult::kError;
    result.text = QStringLiteral("At most %1 ports.").arg(kMaxPorts);
    return result;
  }
  if (parser.isSet(pool)) out.pool = parser.value(pool);
  if (parser.isSet(settings)) out.settings = parser.value(settings);
  if (parser.isSet(dir)) out.dir = parser.value(dir);
  if (parser.isSet(timeout) && !parse_positive(parser.value(timeout), out.timeout_seconds)) {
    result.kind = ParseResult::kError;
    result.text = QStringLiteral("--timeout needs a whole number of seconds, 1 or more.");
    return result;
  }
  if (parser.isSet(screenshot)) out.screenshot = parser.value(screenshot);
  if (parser.isSet(screenshot_timeout) &&
      !parse_positive(parser.value(screenshot_timeout), out.screenshot_timeout)) {
    result.kind = ParseResult::kError;
    result.text = QStringLiteral("--screenshot-timeout needs a number of seconds above 0.");
    return result;
  }
  if (parser.isSet(size)) {
    const QStringList parts = parser.value(size).split(QLatin1Char('x'));
    if (parts.size() != 2 || !parse_positive(parts[0], out.width) || !parse_positive(parts[1], out.height)) {
      result.kind = ParseResult::kError;
      result.text = QStringLiteral("--size needs WIDTHxHEIGHT in pixels.");
      return result;
    }
  }
  if (parser.isSet(corrupt_read) && !parse_positive(parser.value(corrupt_read), out.corrupt_read)) {
    result.kind = ParseResult::kError;
    result.text = QStringLiteral("--simulate-corrupt-read needs a number above 0.");
    return result;
  }
  if (parser.isSet(fault_port)) {
    bool ok = false;
    out.fault_port = parser.value(fault_port).toInt(&ok);
    if (!ok || out.fault_port < 0 || out.fault_port >= out.ports) {
      result.kind = ParseResult::kError;
      result.text = QStringLiteral("--simulate-fault-port needs a port from 0 to --ports minus 1.");
      return result;
    }
  }
  return result;
}

}  // namespace skav::gui

#include "frontends/qt/command_line.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace skav::gui {

namespace {

bool parse_positive(const QString& text, int& out) {
  bool ok = false;
  int value = text.toInt(&ok);
  if (!ok || value <= 0) return false;
  out = value;
  return true;
}

QString text_of(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QStringList names_of(const app::StationOption& option) {
  QStringList names;
  for (std::string_view name : {option.name, option.alias})
    if (!name.empty()) names << text_of(name.substr(name.find_first_not_of('-')));
  return names;
}

// The parser knows no option that takes a value or none ("--simulate", "--simulate=5"): its
// help names the value the option may take.
QCommandLineOption parser_option(const app::StationOption& option) {
  const bool takes_value = option.kind != app::ValueKind::kFlag &&
                           option.kind != app::ValueKind::kNumberOrFallback;
  QString help = text_of(option.help);
  if (option.kind == app::ValueKind::kNumberOrFallback)
    help = QStringLiteral("%1[=%2]: %3").arg(text_of(option.name), text_of(option.value_name), help);
  QCommandLineOption made(names_of(option), help,
                          takes_value ? text_of(option.value_name) : QString());
  if (option.hidden) made.setFlags(QCommandLineOption::HiddenFromHelp);
  return made;
}

ParseResult error(const QString& text) { return {ParseResult::kError, text}; }
ParseResult error(const std::string& text) { return error(QString::fromStdString(text)); }

}  // namespace

ParseResult parse_command_line(const QStringList& arguments, CommandLine& out) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("SKAV factory programming station"));
  QCommandLineOption help = parser.addHelpOption();
  QCommandLineOption version = parser.addVersionOption();
  std::vector<std::pair<const app::StationOption*, QCommandLineOption>> station;
  for (const app::StationOption& option : app::station_options()) {
    if ((option.faces & app::kQtWindow) == 0) continue;
    station.emplace_back(&option, parser_option(option));
    parser.addOption(station.back().second);
  }
  parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("A saved log to open."),
                               QStringLiteral("[FILE]"));
  QCommandLineOption screenshot(QStringLiteral("screenshot"), QString(), QStringLiteral("FILE"));
  screenshot.setFlags(QCommandLineOption::HiddenFromHelp);
  QCommandLineOption screenshot_timeout(QStringLiteral("screenshot-timeout"), QString(),
                                        QStringLiteral("S"));
  screenshot_timeout.setFlags(QCommandLineOption::HiddenFromHelp);
  QCommandLineOption size(QStringLiteral("size"), QString(), QStringLiteral("WxH"));
  size.setFlags(QCommandLineOption::HiddenFromHelp);
  parser.addOptions({screenshot, screenshot_timeout, size});

  // The parser has no optional values: take "--simulate=N" apart first.
  QStringList args;
  std::vector<std::pair<const app::StationOption*, std::string>> counted;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& arg = arguments[i];
    const qsizetype equals = arg.indexOf(QLatin1Char('='));
    const app::StationOption* option =
        i > 0 && equals > 0 ? app::find_station_option(arg.left(equals).toStdString(), app::kQtWindow)
                            : nullptr;
    if (option != nullptr && option->kind == app::ValueKind::kNumberOrFallback) {
      std::string value = arg.mid(equals + 1).toStdString();
      if (std::string complaint = app::check_value(*option, value); !complaint.empty())
        return error(complaint);
      counted.emplace_back(option, value);
      args << text_of(option->name);
    } else {
      args << arg;
    }
  }
  if (!parser.parse(args)) return error(parser.errorText());
  if (parser.isSet(help)) return {ParseResult::kHelp, parser.helpText()};
  if (parser.isSet(version)) return {ParseResult::kVersion, QStringLiteral("skav-gui 1.0")};
  // One file name: the log text to open, as Open would.
  const QStringList files = parser.positionalArguments();
  if (files.size() > 1) return error(QStringLiteral("Unexpected argument: %1").arg(files[1]));
  if (!files.isEmpty()) out.log_file = files.first();

  std::set<std::string_view> given;
  for (const auto& [option, parsed] : station) {
    if (!parser.isSet(parsed)) continue;
    given.insert(option->name);
    std::vector<std::string> values;
    if (option->kind == app::ValueKind::kFlag) {
      values.emplace_back();
    } else if (option->kind == app::ValueKind::kNumberOrFallback) {
      values.push_back(std::to_string(option->fallback));
      for (const auto& [which, value] : counted)
        if (which == option) values.back() = value;
    } else {
      for (const QString& value : parser.values(parsed)) values.push_back(value.toStdString());
    }
    for (const std::string& value : values)
      if (std::string complaint = app::check_value(*option, value); !complaint.empty())
        return error(complaint);
    for (const std::string& value : values) option->set(out.setup, value);
  }
  if (std::string complaint = app::check_together(given, app::kQtWindow); !complaint.empty())
    return error(complaint);
  if (std::string complaint = app::check_setup(out.setup); !complaint.empty()) return error(complaint);

  if (parser.isSet(screenshot)) out.screenshot = parser.value(screenshot);
  if (parser.isSet(screenshot_timeout) &&
      !parse_positive(parser.value(screenshot_timeout), out.screenshot_timeout))
    return error(QStringLiteral("--screenshot-timeout needs a number of seconds above 0."));
  if (parser.isSet(size)) {
    const QStringList parts = parser.value(size).split(QLatin1Char('x'));
    if (parts.size() != 2 || !parse_positive(parts[0], out.width) || !parse_positive(parts[1], out.height))
      return error(QStringLiteral("--size needs WIDTHxHEIGHT in pixels."));
  }
  return {};
}

}  // namespace skav::gui

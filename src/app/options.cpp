#include "app/options.h"

#include <array>
#include <charconv>
#include <system_error>

#include "app/platform.h"
#include "core/platform/utf8.h"

namespace skav::app {

namespace {

int number(const std::string& value) {
  int out = 0;
  std::from_chars(value.data(), value.data() + value.size(), out);
  return out;
}

constexpr unsigned kEveryFace = kCliRun | kQtWindow | kWin32Window;
constexpr unsigned kLinux = kCliRun | kQtWindow;  // the faces that reach a line's database

// The faces' own settings help names the platform's default place.
std::array<StationOption, 14> make_options() {
  return {{
      {"--interface", "", ValueKind::kTextEach, "NAME",
       "Adapter (system or friendly name) leading to the boards; once per port", false, kEveryFace, 0, kMaxPorts,
       0, "At most 16 ports.", "--simulate", "", "",
       [](SetupOptions& o, const std::string& v) { o.interfaces.push_back(v); }},
      {"--simulate", "", ValueKind::kNumberOrFallback, "N",
       "Program N simulated boards (per port) over the in-process link (default 3)", false,
       kEveryFace, 1, kNoMax, 3, "--simulate=N needs a number of boards above 0.", "", "", "",
       [](SetupOptions& o, const std::string& v) { o.simulate = number(v); }},
      {"--ports", "", ValueKind::kNumber, "K", "With --simulate: K simulated ports", false, kEveryFace, 1,
       kMaxPorts, 0, "--ports needs a number from 1 to 16.", "", "--simulate",
       "(real ports: --interface once per port)",
       [](SetupOptions& o, const std::string& v) { o.ports = number(v); }},
      {"--pool", "", ValueKind::kText, "URL",
       "Address pool: file:PATH (default: the settings store) or postgresql://...", false, kLinux,
       0, 0, 0, "", "", "", "", [](SetupOptions& o, const std::string& v) { o.pool = v; }},
      {"--barcode", "", ValueKind::kFlag, "", "Ask for each board's MAC address", false, kCliRun, 0,
       0, 0, "", "", "", "", [](SetupOptions& o, const std::string&) { o.barcode = true; }},
      {"--no-barcode", "", ValueKind::kFlag, "", "Give each board the next MAC address", false,
       kCliRun, 0, 0, 0, "", "--barcode", "", "",
       [](SetupOptions& o, const std::string&) { o.barcode = false; }},
      {"--mac", "", ValueKind::kText, "DIGITS",
       "MAC address for the next board (12 hexadecimal digits)", false, kCliRun, 0, 0, 0, "", "",
       "", "", [](SetupOptions& o, const std::string& v) { o.mac = v; }},
      {"--boards", "", ValueKind::kNumber, "N", "End after N boards (over all ports)", false,
       kCliRun, 1, kNoMax, 0, "--boards needs a number above 0.", "", "", "",
       [](SetupOptions& o, const std::string& v) { o.boards = number(v); }},
      {"--settings", "", ValueKind::kText, "FILE", settings_option_help(), false, kEveryFace, 0, 0,
       0, "", "", "", "", [](SetupOptions& o, const std::string& v) { o.settings = utf8_path(v); }},
      {"--timeout", "", ValueKind::kNumber, "S",
       "Whole seconds of silence (1 or more) before a board is given up", false, kEveryFace, 1,
       86400, 0, "--timeout needs a whole number of seconds, 1 or more.", "", "", "",
       [](SetupOptions& o, const std::string& v) { o.timeout = std::chrono::seconds(number(v)); }},
      {"-C", "--directory", ValueKind::kFolder, "DIR",
       "Working directory: config.ini, images, records", false, kEveryFace, 0, 0, 0,
       "-C needs an existing folder.", "", "", "",
       [](SetupOptions& o, const std::string& v) { o.dir = utf8_path(v); }},
      // Long simulated shifts in little time.
      {"--tick-ms", "", ValueKind::kNumber, "MS",
       "For tests only: the Station Cycle period in milliseconds", true, kCliRun, 1, 1000, 0,
       "--tick-ms needs a number from 1 to 1000.", "", "", "",
       [](SetupOptions& o, const std::string& v) { o.tick = std::chrono::milliseconds(number(v)); }},
      // The documentation's pictures of a failing board.
      {"--simulate-corrupt-read", "", ValueKind::kNumber, "N",
       "The Nth read of each simulated board sends one byte changed", true, kQtWindow, 1, kNoMax, 0,
       "--simulate-corrupt-read needs a number above 0.", "", "", "",
       [](SetupOptions& o, const std::string& v) { o.board.faults.corrupt_read = number(v); }},
      {"--simulate-fault-port", "", ValueKind::kNumber, "K",
       "The simulated fault only on this port (from 0)", true, kQtWindow, 0, kMaxPorts - 1, 0,
       "--simulate-fault-port needs a port from 0 to --ports minus 1.", "", "", "",
       [](SetupOptions& o, const std::string& v) { o.faults_port = number(v); }},
  }};
}

bool whole_number(const std::string& value, int& out) {
  const char* end = value.data() + value.size();
  auto [stop, error] = std::from_chars(value.data(), end, out);
  return error == std::errc() && stop == end && !value.empty();
}

}  // namespace

std::span<const StationOption> station_options() {
  static const std::array<StationOption, 14> options = make_options();
  return options;
}

const StationOption* find_station_option(std::string_view name, unsigned face) {
  for (const StationOption& option : station_options())
    if ((option.faces & face) != 0 && (option.name == name || (!option.alias.empty() && option.alias == name)))
      return &option;
  return nullptr;
}

std::string check_value(const StationOption& option, const std::string& value) {
  switch (option.kind) {
    case ValueKind::kFlag:
    case ValueKind::kText:
    case ValueKind::kTextEach:
      return {};
    case ValueKind::kNumber:
    case ValueKind::kNumberOrFallback: {
      int n = 0;
      if (whole_number(value, n) && n >= option.min && n <= option.max) return {};
      return std::string(option.complaint);
    }
    case ValueKind::kFolder: {
      std::error_code error;
      if (std::filesystem::is_directory(utf8_path(value), error)) return {};
      return std::string(option.complaint);
    }
  }
  return std::string(option.complaint);
}

std::string check_together(const std::set<std::string_view>& given, unsigned face) {
  for (const StationOption& option : station_options()) {
    if ((option.faces & face) == 0 || !given.contains(option.name)) continue;
    bool offered = !option.excludes.empty() && find_station_option(option.excludes, face) != nullptr;
    if (offered && given.contains(option.excludes))
      return std::string(option.name) + " and " + std::string(option.excludes) + " exclude each other.";
    if (!option.needs.empty() && !given.contains(option.needs))
      return std::string(option.name) + " needs " + std::string(option.needs) +
             (option.needs_note.empty() ? "." : " " + std::string(option.needs_note) + ".");
  }
  return {};
}

std::string check_setup(const SetupOptions& options) {
  if (options.interfaces.size() > static_cast<std::size_t>(kMaxPorts))
    return std::string(find_station_option("--interface", kCliRun)->complaint);
  if (options.faults_port >= options.ports)
    return std::string(find_station_option("--simulate-fault-port", kQtWindow)->complaint);
  return {};
}

std::filesystem::path utf8_path(const std::string& text) {
  return platform::path_from_utf8(text);
}

}  // namespace skav::app

#pragma once

#include <climits>
#include <set>
#include <span>
#include <string>
#include <string_view>

#include "app/station_setup.h"

namespace skav::app {

// The faces that offer a station option.
enum Face : unsigned {
  kCliRun = 1u << 0,       // skav run
  kQtWindow = 1u << 1,     // skav-gui
  kWin32Window = 1u << 2,  // skav-gui.exe
};

// What an option takes after its name.
enum class ValueKind {
  kFlag,              // nothing: --barcode
  kText,              // one text: --pool URL
  kTextEach,          // a text each time it is given: --interface NAME --interface NAME
  kNumber,            // a whole number from `min` to `max`: --timeout S
  kNumberOrFallback,  // alone for `fallback` boards, or with a number: --simulate[=N]
  kFolder,            // an existing folder: -C DIR
};

inline constexpr int kNoMax = INT_MAX;
inline constexpr int kMaxPorts = 16;

// One station option as every face offers it: its name, what it takes, its help and the
// SetupOptions field it sets.
struct StationOption {
  std::string_view name;   // "--timeout", "-C"
  std::string_view alias;  // another name for it ("--directory"), or empty
  ValueKind kind;
  std::string_view value_name;  // what a window's help shows for the value ("S")
  std::string_view help;
  bool hidden;     // for tests and the documentation's pictures: not in the help
  unsigned faces;  // Face bits
  int min;         // a number's range; for kTextEach, `max` is how often it may be given
  int max;
  int fallback;  // kNumberOrFallback: the number when none is given
  // What a window says of a value that does not fit (the command line says CLI11's).
  std::string_view complaint;
  std::string_view excludes;    // the option it cannot go with, or empty
  std::string_view needs;       // the option it cannot go without, or empty
  std::string_view needs_note;  // what the complaint about `needs` adds, or empty
  // Sets the option's field; `value` passed check_value() (empty for a flag).
  void (*set)(SetupOptions& options, const std::string& value);
};

// Every station option, in the order the help shows them.
std::span<const StationOption> station_options();

// The option named `name` (or by its alias) that `face` offers; null when none.
const StationOption* find_station_option(std::string_view name, unsigned face);

// The complaint about `value` for `option` (its `complaint`), or empty when the value fits.
// Numbers are whole and decimal ("7", not "7.0" or " 7"); a folder must exist.
std::string check_value(const StationOption& option, const std::string& value);

// The complaint about the options `given` (by name) together on `face`: two that exclude each
// other ("--interface and --simulate exclude each other."), one without the one it needs
// ("--ports needs --simulate (real ports: --interface once per port)."); empty when they fit.
std::string check_together(const std::set<std::string_view>& given, unsigned face);

// The complaint about the values together once all are set: more adapters than kMaxPorts, a
// fault port beyond the simulated ports; empty when they fit.
std::string check_setup(const SetupOptions& options);

// A file system path from the UTF-8 text of an option (every face hands in UTF-8).
std::filesystem::path utf8_path(const std::string& text);

}  // namespace skav::app

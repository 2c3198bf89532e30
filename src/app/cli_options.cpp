#include "app/cli_options.h"

#include <filesystem>
#include <system_error>
#include <map>
#include <string>
#include <vector>

#include "core/platform/utf8.h"

namespace skav::app {

namespace {

std::string cli_names(const StationOption& option) {
  std::string names(option.name);
  if (!option.alias.empty()) names += "," + std::string(option.alias);
  return names;
}

void check_number(CLI::Option& added, const StationOption& option) {
  // A number without upper bound is a count: CLI11 says "not a positive number".
  if (option.max == kNoMax && option.min == 1)
    added.check(CLI::PositiveNumber);
  else
    added.check(CLI::Range(option.min, option.max));
}

}  // namespace

void add_station_options(CLI::App& command, unsigned face, SetupOptions& out) {
  std::map<std::string_view, CLI::Option*> added;
  for (const StationOption& option : station_options()) {
    if ((option.faces & face) == 0) continue;
    const std::string names = cli_names(option);
    const std::string help(option.help);
    SetupOptions* target = &out;
    const StationOption* row = &option;
    CLI::Option* made = nullptr;
    switch (option.kind) {
      case ValueKind::kFlag:
        made = command.add_flag_callback(names, [target, row] { row->set(*target, {}); }, help);
        break;
      case ValueKind::kText:
        made = command.add_option_function<std::string>(
            names, [target, row](const std::string& value) { row->set(*target, value); }, help);
        break;
      case ValueKind::kTextEach:
        made = command.add_option_function<std::vector<std::string>>(
            names,
            [target, row](const std::vector<std::string>& values) {
              for (const std::string& value : values) row->set(*target, value);
            },
            help);
        break;
      case ValueKind::kNumber:
      case ValueKind::kNumberOrFallback:
        made = command.add_option_function<int>(
            names, [target, row](const int& value) { row->set(*target, std::to_string(value)); },
            help);
        check_number(*made, option);
        if (option.kind == ValueKind::kNumberOrFallback)
          made->expected(0, 1)->default_str(std::to_string(option.fallback));
        break;
      case ValueKind::kFolder:
        made = command.add_option_function<std::string>(
            names, [target, row](const std::string& value) { row->set(*target, value); }, help);
        // CLI::ExistingDirectory looks the name up in the ANSI code page on Windows.
        made->check(CLI::Validator(
            [](std::string& name) {
              std::error_code error;
              const std::filesystem::path folder = platform::path_from_utf8(name);
              if (std::filesystem::is_directory(folder, error)) return std::string();
              return (std::filesystem::exists(folder, error) ? "Directory is actually a file: "
                                                             : "Directory does not exist: ") +
                     name;
            },
            "DIR"));
        break;
    }
    if (option.hidden) made->group("");
    added[option.name] = made;
  }
  for (const StationOption& option : station_options()) {
    auto self = added.find(option.name);
    if (self == added.end()) continue;
    if (auto other = added.find(option.excludes); !option.excludes.empty() && other != added.end())
      self->second->excludes(other->second);
    if (auto other = added.find(option.needs); !option.needs.empty() && other != added.end())
      self->second->needs(other->second);
  }
}

}  // namespace skav::app

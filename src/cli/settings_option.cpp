#include "cli/settings_option.h"

#include <cstdlib>

#include "core/settings/file_settings_store.h"

namespace skav::cli {

void add_settings_option(CLI::App& command, std::string& path) {
  command.add_option("--settings", path, "Settings file (default: $SKAV_SETTINGS, else "
                                         "$XDG_CONFIG_HOME/skav/settings.reg)");
}

std::filesystem::path settings_file(const std::string& given, bool simulated) {
  if (!given.empty()) return given;
  std::filesystem::path path = settings::FileSettingsStore::default_path();
  if (simulated && std::getenv("SKAV_SETTINGS") == nullptr)
    path.replace_filename("simulate.reg");
  return path;
}

}  // namespace skav::cli

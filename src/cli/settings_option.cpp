#include "cli/settings_option.h"

namespace skav::cli {

void add_settings_option(CLI::App& command, std::string& path) {
  command.add_option("--settings", path, "Settings file (default: $SKAV_SETTINGS, else "
                                         "$XDG_CONFIG_HOME/skav/settings.reg)");
}

}  // namespace skav::cli

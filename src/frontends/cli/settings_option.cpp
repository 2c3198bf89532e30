#include "frontends/cli/settings_option.h"

namespace skav::cli {

void add_settings_option(CLI::App& command, std::string& path) {
#ifdef _WIN32
  command.add_option("--settings", path, "Settings file (default: the registry key "
                                         "HKEY_CURRENT_USER\\Software\\SKAV)");
#else
  command.add_option("--settings", path, "Settings file (default: $SKAV_SETTINGS, else "
                                         "$XDG_CONFIG_HOME/skav/settings.reg)");
#endif
}

}  // namespace skav::cli

#include "frontends/cli/settings_option.h"

#include "app/platform.h"

namespace skav::cli {

void add_settings_option(CLI::App& command, std::string& path) {
  command.add_option("--settings", path, app::settings_option_help());
}

}  // namespace skav::cli

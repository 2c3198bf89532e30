#include "cli/commands.h"

namespace skav::cli {

void add_env_command(CLI::App& app, int& exit_code) {
  app.add_subcommand("env", "(not built yet)")->callback([&exit_code] { exit_code = 2; });
}

}  // namespace skav::cli

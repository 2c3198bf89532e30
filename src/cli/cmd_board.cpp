#include "cli/commands.h"

namespace skav::cli {

void add_board_command(CLI::App& app, int& exit_code) {
  app.add_subcommand("board", "(not built yet)")->callback([&exit_code] { exit_code = 2; });
}

}  // namespace skav::cli

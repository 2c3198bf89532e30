#include "frontends/cli/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"SKAV factory programming station"};
  app.require_subcommand(1);
  int exit_code = 0;
  skav::cli::add_adapters_command(app, exit_code);
  skav::cli::add_discover_command(app, exit_code);
  skav::cli::add_board_command(app, exit_code);
  skav::cli::add_config_command(app, exit_code);
  skav::cli::add_env_command(app, exit_code);
  skav::cli::add_run_command(app, exit_code);
#ifndef _WIN32
  // Network namespaces and raw sockets, and the PostgreSQL client: Linux only.
  skav::cli::add_bench_command(app, exit_code);
  skav::cli::add_pool_command(app, exit_code);
  skav::cli::add_records_command(app, exit_code);
  skav::cli::add_dashboard_command(app, exit_code);
#endif
  CLI11_PARSE(app, argc, argv);
  return exit_code;
}

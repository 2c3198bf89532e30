#include <string>
#include <vector>

#include "app/platform.h"
#include "frontends/cli/commands.h"

int main(int argc, char** argv) {
  // Every argument in UTF-8, whatever the ANSI code page of Windows can hold.
  const std::vector<std::string> arguments = skav::app::utf8_arguments(argc, argv);
  std::vector<const char*> utf8_argv;
  for (const std::string& argument : arguments) utf8_argv.push_back(argument.c_str());
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
  CLI11_PARSE(app, static_cast<int>(utf8_argv.size()), utf8_argv.data());
  return exit_code;
}

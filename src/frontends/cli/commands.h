#pragma once

#include <CLI/CLI.hpp>

namespace skav::cli {

// Each subcommand adds itself to the program; its callback sets the exit code.
void add_adapters_command(CLI::App& app, int& exit_code);
void add_discover_command(CLI::App& app, int& exit_code);
void add_board_command(CLI::App& app, int& exit_code);
void add_config_command(CLI::App& app, int& exit_code);
void add_env_command(CLI::App& app, int& exit_code);
void add_run_command(CLI::App& app, int& exit_code);
void add_bench_command(CLI::App& app, int& exit_code);
void add_pool_command(CLI::App& app, int& exit_code);
void add_records_command(CLI::App& app, int& exit_code);
void add_dashboard_command(CLI::App& app, int& exit_code);

}  // namespace skav::cli

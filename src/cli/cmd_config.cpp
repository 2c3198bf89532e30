#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/commands.h"
#include "core/config/section_report.h"
#include "core/config/section_table.h"

namespace skav::cli {

void add_config_command(CLI::App& app, int& exit_code) {
  auto* cmd = app.add_subcommand("config",
                                 "Show the Section Table read from config.ini and what "
                                 "a run would do with each section");
  auto dir = std::make_shared<std::string>(".");
  cmd->add_option("-C,--directory", *dir, "Folder holding config.ini and the files it names");
  cmd->callback([dir, &exit_code] {
    const std::filesystem::path folder(*dir);
    config::SectionTable table;
    config::read_section_table(table, folder / "config.ini");
    for (std::size_t i = 0; i < table.size(); ++i)
      std::printf("%s\n", config::format_section_record(i, table[i]).c_str());
    for (std::size_t i = 0; i < table.size(); ++i)
      std::printf("%s\n", config::describe_section_plan(i, table[i], folder).c_str());
    exit_code = 0;
  });
}

}  // namespace skav::cli

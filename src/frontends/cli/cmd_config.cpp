#include <cstdio>
#include <filesystem>
#include <string>

#include "frontends/cli/terminal.h"
#include "core/platform/utf8.h"
#include "frontends/cli/commands.h"
#include "core/config/section_table.h"
#include "core/station/plan.h"

namespace skav::cli {

void add_config_command(CLI::App& app, int& exit_code) {
  auto* cmd = app.add_subcommand("config",
                                 "Show the Section Table read from config.ini and what "
                                 "a run would do with each section");
  auto dir = std::make_shared<std::string>(".");
  cmd->add_option("-C,--directory", *dir, "Folder holding config.ini and the files it names");
  cmd->callback([dir, &exit_code] {
    const std::filesystem::path folder = platform::path_from_utf8(*dir);
    config::SectionTable table;
    config::read_section_table(table, folder / "config.ini");
    for (std::size_t i = 0; i < table.size(); ++i)
      print(stdout, "%s\n", station::format_section_record(i, table[i]).c_str());
    // What a run does with each record, in the Section Table's order.
    const station::RunPlan plan = station::make_plan(table, folder);
    for (std::size_t i = 0; i < table.size(); ++i)
      for (const station::PlanStep& step : plan.steps)
        if (step.table_index == i) print(stdout, "%s\n", station::describe_step(step).c_str());
    exit_code = 0;
  });
}

}  // namespace skav::cli

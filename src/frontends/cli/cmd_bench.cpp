#include <cstdio>
#include <memory>
#include <string>

#include "bench/bench.h"
#include "frontends/cli/commands.h"

namespace skav::cli {

void add_bench_command(CLI::App& app, int& exit_code) {
  auto options = std::make_shared<bench::BenchOptions>();
  auto ports_only = std::make_shared<bool>(false);
  auto wire_only = std::make_shared<bool>(false);
  CLI::App* command = app.add_subcommand(
      "bench", "Measure the station's throughput, CPU time, memory and idle load");
  command->add_option("--size", options->size, "Image size in bytes (default: 67108860, the "
                                               "largest image the station loads)")
      ->check(CLI::Range(1u, station::kImageCapacity));
  command->add_option("--repeats", options->repeats, "Repeats per setup; medians are printed")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  command->add_flag("--skip-veth", options->skip_veth,
                    "Only the in-process link (no veth pair, no root needed)");
  std::string names;
  for (const std::string& name : bench::bench_row_names()) names += (names.empty() ? "" : ", ") + name;
  auto* only = command->add_option("--only", options->only,
                                   "Only these rows, NAME[,NAME] (" + names + ")")
                   ->delimiter(',');
  command->add_flag("--ports-only", *ports_only,
                    "Only the two-port row: two boards on two veth pairs, apart and at once (root)")
      ->excludes(only);
  command->add_flag("--wire-only", *wire_only,
                    "Only the modelled 1 Gbit/s wire (c) and the platform's floor, for profiling (root)")
      ->excludes(only);
  command->add_option("--idle-seconds", options->idle_seconds,
                      "How long the idle station is watched")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  command->add_option("--pool", options->pool,
                      "The pool row: a line's database (postgresql://..., a throwaway: it fills it)");
  command->add_option("--reservers", options->reservers, "The pool row: stations reserving at once")
      ->capture_default_str()
      ->check(CLI::Range(1, 500));
  command->callback([options, ports_only, wire_only, &exit_code] {
    if (*ports_only) options->only.push_back("ports");
    if (*wire_only) options->only.insert(options->only.end(), {"wire", "platform"});
    exit_code = bench::run_bench(*options, stdout);
  });
}

}  // namespace skav::cli

#include <cstdio>
#include <memory>

#include "bench/bench.h"
#include "frontends/cli/commands.h"

namespace skav::cli {

void add_bench_command(CLI::App& app, int& exit_code) {
  auto options = std::make_shared<bench::BenchOptions>();
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
  command->add_flag("--ports-only", options->ports_only,
                    "Only the two-port row: two boards on two veth pairs, apart and at once (root)");
  command->add_flag("--wire-only", options->wire_only,
                    "Only the modelled 1 Gbit/s wire (c) and the platform's floor, for profiling (root)");
  command->add_option("--idle-seconds", options->idle_seconds,
                      "How long the idle station is watched")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  command->callback([options, &exit_code] { exit_code = bench::run_bench(*options, stdout); });
}

}  // namespace skav::cli

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "app/platform.h"
#include "frontends/cli/commands.h"
#include "frontends/cli/terminal.h"
#include "core/link/discovery.h"
#include "core/link/link.h"
#include "core/log.h"

namespace skav::cli {

namespace {

struct DiscoverOptions {
  std::string interface_name;
  double timeout_s = 10.0;
};

// Probes on the named adapter until a board answers or the time-out ends. 0 found (its MAC
// address printed on standard output); 1 not found, or the adapter could not be used.
int discover(const DiscoverOptions& options) {
  std::unique_ptr<link::FrameBackend> backend = app::make_adapter_backend();
  link::Link link(*backend);
  StderrLog log;
  link::AdapterList list;
  link.enumerate_adapters(&log, list);
  if (!link.is_listed()) return 1;
  int number = list.number_of(options.interface_name);
  if (number == 0) {
    log_sink(&log, "No adapter named %s (skav adapters lists them)\r\n",
             options.interface_name.c_str());
    return 1;
  }
  if (link.open_adapter(&log, number) != 1) return 1;

  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(options.timeout_s));
  // Each attempt waits for the reply itself (about 90 ms at most), so this loop does not spin.
  do {
    if (link::find_target(link) == 1) {
      print(stdout, "%s\n", link::format_mac(link.target_mac()).c_str());
      return 0;
    }
  } while (Clock::now() < deadline);
  log_sink(&log, "No board answered on %s within %g s\r\n", options.interface_name.c_str(),
           options.timeout_s);
  return 1;
}

}  // namespace

void add_discover_command(CLI::App& app, int& exit_code) {
  auto options = std::make_shared<DiscoverOptions>();
  CLI::App* command =
      app.add_subcommand("discover", "Find the board wired to an adapter and print its MAC address");
  command->add_option("--interface", options->interface_name, "The adapter's system name")
      ->required();
  command->add_option("--timeout", options->timeout_s, "Seconds to keep probing (default 10)")
      ->check(CLI::Range(0.0, 86400.0));
  command->callback([options, &exit_code] { exit_code = discover(*options); });
}

}  // namespace skav::cli

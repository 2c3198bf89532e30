#include <cstdio>
#include <memory>
#include <string>

#include "frontends/cli/terminal.h"
#include "app/platform.h"
#include "sim/board_line.h"
#include "frontends/cli/commands.h"
#include "app/stop_signal.h"
#include "core/link/mac.h"

namespace skav::cli {

namespace {

struct BoardArgs {
  std::string interface;
  std::string mac = "02:00:00:00:00:01";
  int boards = 0;
  std::string diag_text;
};

int run_board(const BoardArgs& args) {
  std::optional<link::Mac> mac = link::parse_mac(args.mac);
  if (!mac) {
    print(stderr, "skav board: %s is not a MAC address (use 02:00:00:00:00:01)\n",
                 args.mac.c_str());
    return 1;
  }
  link::OpenResult opened = app::open_board_adapter(args.interface);
  if (!opened.device) {
    print(stderr, "skav board: cannot open %s: %s\n", args.interface.c_str(), opened.error.c_str());
#ifndef _WIN32
    // On Windows the reason names what to install; there is no capability to give.
    print(stderr, "Raw access to an adapter needs root or the cap_net_raw capability.\n");
#endif
    return 1;
  }

  sim::BoardOptions options;
  options.mac = *mac;
  options.diag_text = args.diag_text;
  sim::BoardLine line(*opened.device, options, args.boards, false);
  line.set_on_finished([](int index, const sim::SimBoard& board) {
    sim::BoardStats stats = board.stats();
    print(stderr, "board %d finished: %s, %d exchanges%s\n", index + 1,
                 link::format_mac(board.mac()).c_str(), stats.exchanges,
                 board.diag_ran() ? ", diagnostic image ran" : "");
  });

  const std::atomic<bool>& stop = app::install_stop_signals();
  if (args.boards > 0) {
    print(stderr, "Simulated boards from %s on %s: %d in a row (Ctrl-C stops)\n",
                 link::format_mac(*mac).c_str(), args.interface.c_str(), args.boards);
  } else {
    print(stderr, "Simulated boards from %s on %s (Ctrl-C stops)\n",
                 link::format_mac(*mac).c_str(), args.interface.c_str());
  }
  line.run(stop);
  return 0;
}

}  // namespace

void add_board_command(CLI::App& app, int& exit_code) {
  auto args = std::make_shared<BoardArgs>();
  CLI::App* command = app.add_subcommand(
      "board", "Act as the target board (or boards in a row) on a network adapter");
  command->add_option("--interface", args->interface, "Adapter to serve on, e.g. eth1")
      ->required();
  command->add_option("--mac", args->mac, "MAC address of the first board")
      ->capture_default_str();
  command->add_option("--boards", args->boards,
                      "Stop after this many boards finished (default: run until interrupted)")
      ->check(CLI::PositiveNumber);
  command->add_option("--diag-text", args->diag_text,
                      "Text the started diagnostic image prints (default: the image's own bytes)");
  command->callback([args, &exit_code] { exit_code = run_board(*args); });
}

}  // namespace skav::cli

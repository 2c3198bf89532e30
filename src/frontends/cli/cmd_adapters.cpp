#include <cstdio>
#include <memory>
#include <string_view>

#include "app/platform.h"
#include "frontends/cli/commands.h"
#include "frontends/cli/terminal.h"
#include "core/link/link.h"
#include "core/log.h"

namespace skav::cli {

namespace {

int list_adapters() {
  std::unique_ptr<link::FrameBackend> backend = app::make_adapter_backend();
  link::Link link(*backend);
  StderrLog log;
  link::AdapterList list;
  link.enumerate_adapters(&log, list);
  if (!link.is_listed()) return 1;
  // The friendly names, by system name: the link's list keeps the station's own columns.
  const link::AdapterListing listing = backend->list_adapters();
  for (int k = 0; k < list.count; ++k) {
    auto i = static_cast<std::size_t>(k);
    std::string friendly;
    for (const link::AdapterInfo& adapter : listing.adapters)
      if (adapter.name == list.names[i] && !adapter.friendly_name.empty() &&
          adapter.friendly_name != adapter.name && adapter.friendly_name != list.entries[i])
        friendly = " (" + adapter.friendly_name + ")";
    print(stdout, "%d %s %s%s\n", k + 1, list.names[i].c_str(), list.entries[i].c_str(),
          friendly.c_str());
  }
  return 0;
}

}  // namespace

void add_adapters_command(CLI::App& app, int& exit_code) {
  app.add_subcommand("adapters", "List the network adapters, numbered from 1")
      ->callback([&exit_code] { exit_code = list_adapters(); });
}

}  // namespace skav::cli

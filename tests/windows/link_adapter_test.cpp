// The Windows link over a real adapter: under Wine, one end of a veth pair in a private
// network namespace, with `skav board` answering at the other end (scripts/test-windows.sh sets
// that up and names the adapter in SKAV_WINDOWS_ADAPTER).

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/link/discovery.h"
#include "core/link/link.h"
#include "backends/windows/wpcap_backend.h"

namespace skav::windows {
namespace {

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

TEST(WindowsLink, FindsTheBoardBehindTheAdapterNamedInTheEnvironment) {
  const std::string adapter = env("SKAV_WINDOWS_ADAPTER");
  if (adapter.empty())
    GTEST_SKIP() << "needs SKAV_WINDOWS_ADAPTER: run by scripts/test-windows.sh as root";
  WpcapBackend backend;
  ASSERT_EQ(backend.load_error(), "");

  StringLog log;
  link::Link link(backend);
  link::AdapterList list;
  link.enumerate_adapters(&log, list);
  int number = 0;
  for (int i = 0; i < list.count; ++i) {
    std::printf("adapter %d: %s (%s)\n", i + 1, list.names[i].c_str(), list.entries[i].c_str());
    if (list.entries[i] == adapter) number = i + 1;
  }
  ASSERT_NE(number, 0) << "no adapter described as " << adapter << "\n" << log.text();
  const std::string& name = list.names[number - 1];
  EXPECT_EQ(name.rfind("\\Device\\NPF_{", 0), 0u) << name;

  // The adapter's own address, through the IP Helper API.
  std::optional<link::Mac> mac = backend.adapter_mac(name);
  ASSERT_TRUE(mac.has_value());
  EXPECT_EQ(link::format_mac(*mac), env("SKAV_WINDOWS_ADAPTER_MAC"));

  ASSERT_EQ(link.open_adapter(&log, number), 1) << log.text();
  EXPECT_EQ(link.host_mac(), *mac);
  std::printf("paths taken: %s%s\n", describe(backend.opened_paths()).c_str(),
              running_under_wine() ? " (under Wine)" : "");
  if (running_under_wine()) {
    // Wine has neither immediate mode nor working event handles or send queues.
    EXPECT_EQ(backend.opened_paths().delivery, Delivery::kReadTimeout);
    EXPECT_EQ(backend.opened_paths().waiting, Waiting::kPoll);
    EXPECT_EQ(backend.opened_paths().sending, Sending::kOneByOne);
  }

  // The board may still be starting: probe until it answers, a bounded number of times.
  int found = 0;
  int attempts = 0;
  while (attempts < 100 && found == 0) {
    found = link::find_target(link);
    ++attempts;
  }
  ASSERT_EQ(found, 1) << "no Discovery Reply";
  std::printf("board found after %d probe(s)\n", attempts);
  EXPECT_EQ(link::format_mac(link.target_mac()), env("SKAV_WINDOWS_BOARD_MAC"));
  link.close_link();
}

}  // namespace
}  // namespace skav::windows

// What --interface accepts: the system name, else a friendly name or a description that one
// adapter alone has; and why none was found, the platform's reason included.

#include <gtest/gtest.h>

#include <string>

#include "app/station_setup.h"
#include "core/link/in_memory.h"

namespace skav::app {
namespace {

TEST(FindAdapter, TakesTheSystemNameOrAFriendlyNameOrADescriptionThatOneAdapterAloneHas) {
  link::InMemoryWire wire;
  link::InMemoryBackend backend(wire);
  backend.add_adapter({"\\Device\\NPF_{A}", "Intel(R) Ethernet", "Ethernet"});
  backend.add_adapter({"\\Device\\NPF_{B}", "Realtek USB NIC", "Ethernet 2"});
  backend.add_adapter({"\\Device\\NPF_{C}", "Realtek USB NIC", "Line 3"});
  // A friendly name that is another adapter's system name: the system name wins.
  backend.add_adapter({"\\Device\\NPF_{D}", "", "\\Device\\NPF_{A}"});
  struct Case {
    const char* wanted;
    const char* found;       // empty: none
    const char* complaint;   // what the problem begins with
  } cases[] = {
      {"\\Device\\NPF_{B}", "\\Device\\NPF_{B}", ""},
      {"Ethernet 2", "\\Device\\NPF_{B}", ""},
      {"Line 3", "\\Device\\NPF_{C}", ""},
      {"Intel(R) Ethernet", "\\Device\\NPF_{A}", ""},
      {"\\Device\\NPF_{A}", "\\Device\\NPF_{A}", ""},
      {"Realtek USB NIC", "", "2 adapters are named Realtek USB NIC: give the system name"},
      {"ethernet 2", "", "no adapter named ethernet 2 (see skav adapters)"},
      {"", "", "no adapter named "},
  };
  for (const Case& c : cases) {
    std::string problem;
    EXPECT_EQ(find_adapter(backend, c.wanted, problem), c.found) << c.wanted;
    EXPECT_EQ(problem.rfind(c.complaint, 0), 0u) << c.wanted << ": " << problem;
    if (*c.found != '\0') {
      EXPECT_EQ(problem, "") << c.wanted;
    }
  }
}

TEST(FindAdapter, AListingThatFailsGivesThePlatformsReason) {
  link::InMemoryWire wire;
  link::InMemoryBackend backend(wire);
  backend.fail_listing("wpcap.dll could not be loaded: install Npcap (https://npcap.com)");
  std::string problem;
  EXPECT_EQ(find_adapter(backend, "Ethernet", problem), "");
  EXPECT_EQ(problem,
            "no adapter named Ethernet: the adapters could not be listed: wpcap.dll could not be "
            "loaded: install Npcap (https://npcap.com)");
}

}  // namespace
}  // namespace skav::app

// A window's line on the ports it stored: when they cannot all be opened the line has one port
// on the stored NetIF, and its log says why.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/station_setup.h"
#include "support/temp_dir.h"

namespace skav::app {
namespace {

struct Try {
  std::vector<std::size_t> port_counts;  // what each try asked `prepare` for
  std::vector<std::unique_ptr<StringLog>> logs;
};

SinksFor sinks_of(Try& tries, std::size_t ports) {
  tries.port_counts.push_back(ports);
  for (std::size_t i = 0; i < ports; ++i) tries.logs.push_back(std::make_unique<StringLog>());
  StringLog* first = tries.logs[tries.logs.size() - ports].get();
  return [first](std::size_t, const std::vector<std::string>&) { return PortSinks{first, nullptr}; };
}

TEST(StoredPorts, PortsThatCannotAllBeOpenedFallBackToOnePortAndSayWhy) {
  test::TempDir dir;
  SetupOptions options;
  options.settings = dir / "settings.reg";
  options.dir = dir.path();
  options.ledger = dir / "ledger.txt";
  Try tries;
  std::unique_ptr<StationSetup> setup;
  Status made = StationSetup::create_with_stored_ports(
      options, {"skav-absent0", "skav-absent1"},
      [&tries](std::size_t ports) { return sinks_of(tries, ports); }, setup);
  ASSERT_TRUE(made.ok()) << made.message();
  EXPECT_EQ(tries.port_counts, (std::vector<std::size_t>{2, 1}));
  EXPECT_EQ(setup->line().port_count(), 1u);
  EXPECT_EQ(tries.logs.back()->text(),
            "Several ports not opened: no adapter named skav-absent0 (see skav adapters)\r\n");
}

TEST(StoredPorts, NamedAdaptersOrASingleStoredPortAreNotAFallback) {
  test::TempDir dir;
  struct Case {
    std::vector<std::string> named;
    std::vector<std::string> stored;
    bool ok;
    std::vector<std::size_t> port_counts;
  };
  const std::vector<Case> cases = {
      // A named adapter that is absent fails: the operator asked for it.
      {{"skav-absent0"}, {"skav-absent1", "skav-absent2"}, false, {1}},
      // One stored port is the stored NetIF's business, not a port list.
      {{}, {"skav-absent1"}, true, {1}},
  };
  for (const Case& c : cases) {
    SetupOptions options;
    options.settings = dir / "settings.reg";
    options.dir = dir.path();
    options.ledger = dir / "ledger.txt";
    options.interfaces = c.named;
    Try tries;
    std::unique_ptr<StationSetup> setup;
    Status made = StationSetup::create_with_stored_ports(
        options, c.stored, [&tries](std::size_t ports) { return sinks_of(tries, ports); }, setup);
    EXPECT_EQ(made.ok(), c.ok) << made.message();
    EXPECT_EQ(tries.port_counts, c.port_counts);
    EXPECT_EQ(setup != nullptr, c.ok);
  }
}

}  // namespace
}  // namespace skav::app

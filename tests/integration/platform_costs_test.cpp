#include "bench/platform_costs.h"

#include <gtest/gtest.h>

#include <string>

#include "support/netns.h"

namespace skav {
namespace {

// The probe on the pair prices each event; with an end missing it says which, instead of
// timing sends that reached nobody (a floor too low to read the station against).
TEST(PlatformCosts, PricesEveryEventOnThePairAndNamesAMissingEnd) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  bench::PlatformCosts costs = bench::measure_platform_costs("skav0", "skav1");
  ASSERT_EQ(costs.error, "");
  for (double us : {costs.send_window_us, costs.send_ack_us, costs.woken_wait_us,
                    costs.timed_wait_us})
    EXPECT_GT(us, 0.0);
  EXPECT_GT(costs.floor_ms_per_mb(), 0.0);

  struct Case {
    const char* station_end;
    const char* board_end;
    const char* named;
  };
  for (const Case& c : {Case{"skav0", "skav-none", "skav-none"},
                        Case{"skav-none", "skav1", "skav-none"}}) {
    bench::PlatformCosts missing = bench::measure_platform_costs(c.station_end, c.board_end);
    EXPECT_NE(missing.error.find(c.named), std::string::npos)
        << c.station_end << " - " << c.board_end << ": " << missing.error;
  }
}

}  // namespace
}  // namespace skav

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/run_program.h"

namespace skav {
namespace {

TEST(BenchCli, PrintsEveryRowForASmallImage) {
  bool root = geteuid() == 0;
  std::vector<std::string> argv = {SKAV_BINARY, "bench", "--size", "1048576", "--repeats", "1",
                                   "--idle-seconds", "2"};
  if (!root) argv.push_back("--skip-veth");
  test::ProgramResult result = test::run_program(argv, std::chrono::minutes(3));
  ASSERT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
  const std::string& out = result.out;
  EXPECT_NE(out.find("a. in-process link (station)"), std::string::npos) << out;
  EXPECT_NE(out.find("a. station resources"), std::string::npos) << out;
  if (!root) {
    EXPECT_NE(out.find("b. veth pair: skipped"), std::string::npos) << out;
    return;
  }
  for (const char* row : {"b. veth pair (station, libpcap)", "b. veth pair (raw reference)",
                          "b. ratio station/reference", "c. modelled 1 Gbit/s wire (station)",
                          "c. protocol limit (MB/s)", "c. ratio station/limit",
                          "b. station resources", "b. raw reference resources",
                          "c. station resources", "c. platform, per window", "idle station: ",
                          "d. two ports, veth                 one after the other ",
                          "d. two ports, modelled wire        one after the other "})
    EXPECT_NE(out.find(row), std::string::npos) << row << "\n" << out;
  EXPECT_NE(out.find("78.80"), std::string::npos) << out;  // the computed limit
  EXPECT_EQ(out.find("skipped"), std::string::npos) << out;
}

}  // namespace
}  // namespace skav

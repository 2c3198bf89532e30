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
  // Every row ran, but the line database's, which needs a --pool.
  const std::size_t pool = out.find("pool: skipped (no --pool postgresql://...)");
  ASSERT_NE(pool, std::string::npos) << out;
  const std::size_t skipped = pool + std::string_view("pool: ").size();
  EXPECT_EQ(out.find("skipped"), skipped) << out;
  EXPECT_EQ(out.find("skipped", skipped + 1), std::string::npos) << out;
}

TEST(BenchCli, OnlyRunsTheNamedRows) {
  struct Case {
    std::vector<std::string> only;
    int exit_code;
    std::vector<const char*> shown;
    std::vector<const char*> absent;
  };
  for (const Case& c : std::vector<Case>{
           {{"--only", "in-process"}, 0, {"a. in-process link (station)", "a. station resources",
                                          "a. station per window"},
            {"b. veth", "c. modelled", "c. platform", "d. two ports", "idle station"}},
           {{"--only", "nonsense"}, 1, {"skav bench: no row named nonsense"}, {"setup"}},
           {{"--only", "in-process,nonsense"}, 1, {"no row named nonsense"}, {"a. in-process"}},
           // Without root the pair is missing: a row asked for by name that cannot run fails.
           {{"--only", "in-process,idle", "--skip-veth"}, 1,
            {"a. in-process link (station)", "idle station: skipped (--skip-veth)"},
            {"b. veth", "d. two ports"}},
       }) {
    std::vector<std::string> argv = {SKAV_BINARY, "bench", "--size", "1048576", "--repeats", "1",
                                     "--idle-seconds", "1"};
    argv.insert(argv.end(), c.only.begin(), c.only.end());
    test::ProgramResult result = test::run_program(argv, std::chrono::minutes(2));
    ASSERT_FALSE(result.timed_out);
    const std::string& out = result.out;
    EXPECT_EQ(result.exit_code, c.exit_code) << c.only[1] << "\n" << out << result.err;
    for (const char* line : c.shown) EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    for (const char* line : c.absent) EXPECT_EQ(out.find(line), std::string::npos) << line << "\n" << out;
  }
}

}  // namespace
}  // namespace skav

// A short shift of simulated boards: memory and descriptors stay flat, every board gets the
// next address, and every board has its record. scripts/soak.sh does the run and the checks;
// run it by hand with 1000 boards (the default) for the full shift.

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/run_program.h"

namespace skav {
namespace {

using namespace std::chrono_literals;

TEST(Soak, TwoHundredBoardsInARowLeaveMemoryDescriptorsAndAddressesInOrder) {
  ::setenv("SKAV_BINARY", SKAV_BINARY, 1);
  test::ProgramResult result = test::run_program(
      {"/bin/bash", std::string(SKAV_SOURCE_DIR) + "/scripts/soak.sh", "200"}, 240s);
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
  EXPECT_NE(result.out.find("soak: ok"), std::string::npos) << result.out << result.err;
  std::printf("%s", result.out.c_str());
}

}  // namespace
}  // namespace skav

#pragma once

#include <string>

namespace skav::test {

// Moves this test process into a network namespace of its own with one veth pair whose two ends
// (`station_end`, `board_end`) are up. The namespace ends with the process, so nothing needs
// cleaning up; child processes started afterwards share it. Returns an empty string on success,
// else why it could not be made (not root, no veth support): the caller skips with that text.
std::string enter_private_veth_namespace(const std::string& station_end = "skav0",
                                         const std::string& board_end = "skav1");

}  // namespace skav::test

// Skips the current test with a clear message when no private namespace can be made.
#define SKAV_REQUIRE_VETH_NAMESPACE(...)                                                 \
  do {                                                                                    \
    std::string skav_netns_error = ::skav::test::enter_private_veth_namespace(__VA_ARGS__); \
    if (!skav_netns_error.empty())                                                        \
      GTEST_SKIP() << "needs a private network namespace with a veth pair (run as root): " \
                   << skav_netns_error;                                                   \
  } while (0)

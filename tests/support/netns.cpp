#include "support/netns.h"

#include "bench/netns.h"

namespace skav::test {

std::string enter_private_veth_namespace(const std::string& station_end,
                                         const std::string& board_end) {
  // Once per test process: the namespace and its pair stay for the process's lifetime.
  static bool entered = false;
  if (entered) return {};
  std::string error = bench::enter_veth_namespace(station_end, board_end);
  entered = error.empty();
  return error;
}

}  // namespace skav::test

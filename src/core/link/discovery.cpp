#include "core/link/discovery.h"

namespace skav::link {

int find_target(Link& link) {
  // A refused probe is not reported: the attempts follow all the same. It may mean that the
  // adapter is gone (a removed one need not fail its receives): then the link counts as lost.
  if (link.send_probe() != 0) link.check_adapter();
  for (int attempt = 0; attempt < kDiscoveryAttempts; ++attempt) {
    if (link.receive_reply() == 1) return 1;
    link.clock().sleep_for(kDiscoveryPause);
  }
  return 0;
}

}  // namespace skav::link

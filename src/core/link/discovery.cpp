#include "core/link/discovery.h"

namespace skav::link {

int find_target(Link& link) {
  // A refused probe is not reported: the attempts follow all the same.
  link.send_probe();
  for (int attempt = 0; attempt < kDiscoveryAttempts; ++attempt) {
    if (link.receive_reply() == 1) return 1;
    link.clock().sleep_for(kDiscoveryPause);
  }
  return 0;
}

}  // namespace skav::link

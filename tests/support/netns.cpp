#include "support/netns.h"

#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace skav::test {

namespace {
bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }
}  // namespace

std::string enter_private_veth_namespace(const std::string& station_end,
                                         const std::string& board_end) {
  static bool entered = false;
  if (entered) return {};
  if (geteuid() != 0) return "not running as root";
  if (unshare(CLONE_NEWNET) != 0) return std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
  if (!run("ip link set lo up")) return "ip link set lo up failed";
  if (!run("ip link add " + station_end + " type veth peer name " + board_end))
    return "cannot create a veth pair (ip link add ... type veth)";
  // No IPv6 on the pair: router solicitations and the like would be foreign traffic.
  run("sysctl -qw net.ipv6.conf.all.disable_ipv6=1");
  if (!run("ip link set " + station_end + " up") || !run("ip link set " + board_end + " up"))
    return "cannot bring the veth pair up";
  entered = true;
  return {};
}

}  // namespace skav::test

#include "bench/netns.h"

#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace skav::bench {

namespace {
bool run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}
}  // namespace

std::string enter_veth_namespace(const std::string& station_end, const std::string& board_end) {
  if (geteuid() != 0) return "not running as root";
  if (unshare(CLONE_NEWNET) != 0)
    return std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
  if (!run("ip link set lo up")) return "ip link set lo up failed";
  if (!run("ip link add " + station_end + " type veth peer name " + board_end))
    return "cannot create a veth pair (ip link add ... type veth)";
  // No IPv6 on the pair: its router solicitations would be foreign frames on it.
  run("sysctl -qw net.ipv6.conf.all.disable_ipv6=1");
  if (!run("ip link set " + station_end + " up") || !run("ip link set " + board_end + " up"))
    return "cannot bring the veth pair up";
  return {};
}

}  // namespace skav::bench

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
  // No IPv6 on the pairs: its router solicitations would be foreign frames on them.
  run("sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1");
  return add_veth_pair(station_end, board_end);
}

std::string add_veth_pair(const std::string& station_end, const std::string& board_end) {
  if (!run("ip link add " + station_end + " type veth peer name " + board_end))
    return "cannot create a veth pair (ip link add ... type veth)";
  if (!run("ip link set " + station_end + " up") || !run("ip link set " + board_end + " up"))
    return "cannot bring the veth pair up";
  return {};
}

}  // namespace skav::bench

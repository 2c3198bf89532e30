#include "bench/child.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace skav::bench {

pid_t fork_bound_child() {
  pid_t parent = getpid();
  pid_t child = fork();
  if (child == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The parent may have ended before the request was made: then no signal comes.
    if (getppid() != parent) _exit(1);
  }
  return child;
}

}  // namespace skav::bench

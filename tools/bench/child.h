#pragma once

#include <sys/types.h>

namespace skav::bench {

// fork(), for a child that must not outlive the bench: the kernel kills it (SIGKILL) when the
// process that forked it ends, however it ends. A bench killed or crashed would otherwise leave
// its simulated boards running, the modelled wire's transmitter spinning at real-time priority,
// and every later measurement on the machine would pay for them. Call it from the main thread
// (the child is tied to the forking thread). Returns what fork() returns.
pid_t fork_bound_child();

// Ends a child and reaps it: SIGTERM, a wait of at most 5 s, then SIGKILL.
void end_child(pid_t pid);

}  // namespace skav::bench

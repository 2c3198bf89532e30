#pragma once

#include <time.h>

namespace skav::bench {

// The calling thread's CPU time so far, in seconds (nanosecond resolution).
inline double thread_cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace skav::bench

#pragma once

#include <chrono>

#include "core/link/link.h"

namespace skav::link {

inline constexpr int kDiscoveryAttempts = 3;
inline constexpr std::chrono::milliseconds kDiscoveryPause{10};

// Find Target: broadcasts one 60-byte Discovery Probe and takes the source address of the
// first Discovery Reply among the next three frames (one 20 ms receive each, a 10 ms pause on
// the link's clock after each miss) as the Target MAC. 1 found; 0 not found, Target MAC
// unchanged. A refused probe makes the link ask whether its adapter is still there (and lose
// it when not: adapter_lost()). Logs nothing.
int find_target(Link& link);

}  // namespace skav::link

#pragma once

#include <chrono>
#include <functional>

#include "core/link/link.h"

namespace skav::link {

inline constexpr int kDiscoveryAttempts = 3;
inline constexpr std::chrono::milliseconds kDiscoveryPause{10};

// Pauses between receive attempts; tests replace it to count pauses without sleeping.
using Pause = std::function<void(std::chrono::milliseconds)>;
void sleep_pause(std::chrono::milliseconds duration);

// Find Target: broadcasts one 60-byte Discovery Probe and takes the source address of the
// first Discovery Reply among the next three frames (one 20 ms receive each, a 10 ms pause after
// each miss) as the Target MAC. 1 found; 0 not found, Target MAC unchanged. Logs nothing.
int find_target(Link& link, const Pause& pause = sleep_pause);

}  // namespace skav::link

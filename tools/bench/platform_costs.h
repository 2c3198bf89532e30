#pragma once

#include <string>

namespace skav::bench {

// What this machine charges a thread for the events one window costs a station on a veth pair,
// each measured alone, in microseconds of the thread's CPU time per event. Writing a window, a
// station hands its 16 data frames to the kernel in one call and sleeps until the
// acknowledgement wakes it; reading one back, it sleeps on a timer until the window should be
// complete, takes the frames from its ring (no system call) and sends one acknowledgement.
struct PlatformCosts {
  double send_window_us = 0;  // 16 frames of 1408 payload bytes in one call
  double send_ack_us = 0;     // one 60-byte frame
  double woken_wait_us = 0;   // a sleep ended by a frame from the far end, and its take
  double timed_wait_us = 0;   // a sleep ended by its timer
  std::string error;          // empty when measured

  // One window each way, nothing else done, in ms per MB of image (1 MB = 10^6 bytes): what
  // the platform alone costs a station that wakes once per window in each direction.
  double floor_ms_per_mb() const;
};

// Measures on the veth pair `station_end` - `board_end` (both up, in this process's network
// namespace) through the station's own backend. The far end is a forked child with the socket
// a simulated board opens: while frames go out it takes them as a sleeping board does (a timer
// every millisecond, never woken by a frame), so that the sender pays for the far end's receive
// as it does in a run; for the woken waits it sends one frame every 300 us.
PlatformCosts measure_platform_costs(const char* station_end, const char* board_end);

}  // namespace skav::bench

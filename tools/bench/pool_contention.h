#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>

namespace skav::bench {

// The line's PostgreSQL pool under stations reserving at once: each of `reservers` threads is a
// station of its own (its own identity and connection) that reserves an address and stores its
// board's record, again and again, for `length`.
struct PoolContention {
  std::size_t reservations = 0;  // addresses reserved over all stations
  std::size_t twice = 0;         // addresses handed out more than once (must be 0)
  std::size_t failures = 0;      // calls that did not succeed
  double seconds = 0;            // how long they reserved
  std::string error;             // why it could not run at all
};
PoolContention pool_contention(const std::string& url, int reservers, std::chrono::seconds length,
                               const std::filesystem::path& dir);

}  // namespace skav::bench

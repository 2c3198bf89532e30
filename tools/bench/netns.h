#pragma once

#include <string>

namespace skav::bench {

// Moves this process into a network namespace of its own holding one veth pair whose ends
// `station_end` and `board_end` are up. The namespace ends with the process: nothing to clean
// up. Empty on success, else why it could not be made (not root, no veth support).
std::string enter_veth_namespace(const std::string& station_end, const std::string& board_end);

// In the namespace entered above: one more veth pair, both ends up. Empty on success, else why
// it could not be made.
std::string add_veth_pair(const std::string& station_end, const std::string& board_end);

}  // namespace skav::bench

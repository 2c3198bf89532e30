#include "sim/sparse_memory.h"

#include <algorithm>
#include <cstring>

namespace skav::sim {

void SparseMemory::write(std::uint64_t address, const std::uint8_t* data, std::uint64_t length) {
  if (length == 0) return;
  std::uint64_t end = address + length;
  // The first region that may overlap: the last one starting at or before `address`.
  auto first = segments_.upper_bound(address);
  if (first != segments_.begin()) {
    auto previous = std::prev(first);
    if (previous->first + previous->second.size() > address) first = previous;
  }
  auto last = first;
  std::uint64_t start = address;
  std::uint64_t stop = end;
  while (last != segments_.end() && last->first < end) {
    start = std::min(start, last->first);
    stop = std::max(stop, last->first + last->second.size());
    ++last;
  }
  if (first == last) {
    segments_.emplace(address, std::vector<std::uint8_t>(data, data + length));
    return;
  }
  // Merge the overlapped regions and the new bytes into one region.
  std::vector<std::uint8_t> merged(stop - start);
  for (auto it = first; it != last; ++it)
    std::memcpy(merged.data() + (it->first - start), it->second.data(), it->second.size());
  std::memcpy(merged.data() + (address - start), data, length);
  segments_.erase(first, last);
  segments_.emplace(start, std::move(merged));
}

void SparseMemory::replace(std::uint64_t address, std::vector<std::uint8_t>& bytes,
                           std::uint64_t length) {
  auto it = segments_.find(address);
  if (it != segments_.end() && it->second.size() == length && bytes.size() == length) {
    it->second.swap(bytes);
    return;
  }
  write(address, bytes.data(), length);
}

void SparseMemory::read(std::uint64_t address, std::uint8_t* out, std::uint64_t length) const {
  if (length == 0) return;
  std::memset(out, 0xff, length);
  std::uint64_t end = address + length;
  auto it = segments_.upper_bound(address);
  if (it != segments_.begin()) --it;
  for (; it != segments_.end() && it->first < end; ++it) {
    std::uint64_t seg_end = it->first + it->second.size();
    std::uint64_t from = std::max(address, it->first);
    std::uint64_t to = std::min(end, seg_end);
    if (from >= to) continue;
    std::memcpy(out + (from - address), it->second.data() + (from - it->first), to - from);
  }
}

std::uint64_t SparseMemory::used() const {
  std::uint64_t total = 0;
  for (const auto& [start, bytes] : segments_) total += bytes.size();
  return total;
}

}  // namespace skav::sim

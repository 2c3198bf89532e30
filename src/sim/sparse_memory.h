#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace skav::sim {

// One memory of the simulated board (nand, spi, lpc or mem): holds what was written, at the
// addresses it was written to, and reads 0xFF wherever nothing was. Addresses are 64-bit inside,
// so a region that starts near the top of the 32-bit space does not wrap.
class SparseMemory {
 public:
  // Stores `length` bytes at `address`, over whatever was there.
  void write(std::uint64_t address, const std::uint8_t* data, std::uint64_t length);
  // Stores the first `length` bytes of `bytes` at `address`. When exactly that region was
  // written before, the two buffers trade places (no copy): `bytes` then holds the old
  // contents. Otherwise like write().
  void replace(std::uint64_t address, std::vector<std::uint8_t>& bytes, std::uint64_t length);
  // Copies `length` bytes from `address` into `out`; 0xFF where nothing was written.
  void read(std::uint64_t address, std::uint8_t* out, std::uint64_t length) const;
  // Number of bytes that were ever written (overlaps counted once).
  std::uint64_t used() const;
  bool empty() const { return segments_.empty(); }

 private:
  // Disjoint written regions by start address.
  std::map<std::uint64_t, std::vector<std::uint8_t>> segments_;
};

}  // namespace skav::sim

#include <gtest/gtest.h>

#include <vector>

#include "sim/sparse_memory.h"

namespace skav::sim {
namespace {

std::vector<std::uint8_t> bytes_at(const SparseMemory& memory, std::uint64_t address,
                                   std::uint64_t length) {
  std::vector<std::uint8_t> out(length);
  memory.read(address, out.data(), length);
  return out;
}

TEST(SparseMemoryReplace, RewritingTheSameRegionTradesBuffersWithoutChangingWhatIsRead) {
  SparseMemory memory;
  std::vector<std::uint8_t> first(5000, 0x11);
  memory.replace(0x1000, first, 5000);  // a new region: copied
  EXPECT_EQ(bytes_at(memory, 0x1000, 5000), std::vector<std::uint8_t>(5000, 0x11));

  std::vector<std::uint8_t> second(5000, 0x22);
  memory.replace(0x1000, second, 5000);  // the same region: the buffers trade places
  EXPECT_EQ(bytes_at(memory, 0x1000, 5000), std::vector<std::uint8_t>(5000, 0x22));
  EXPECT_EQ(second, std::vector<std::uint8_t>(5000, 0x11));
  EXPECT_EQ(memory.used(), 5000u);
}

TEST(SparseMemoryReplace, APartialOrLongerBufferIsWrittenLikeWrite) {
  SparseMemory memory;
  std::vector<std::uint8_t> base(100, 0x11);
  memory.replace(0, base, 100);
  std::vector<std::uint8_t> longer(300, 0x33);  // only its first 50 bytes are stored
  memory.replace(20, longer, 50);
  EXPECT_EQ(longer.size(), 300u);
  std::vector<std::uint8_t> expected(100, 0x11);
  std::fill(expected.begin() + 20, expected.begin() + 70, 0x33);
  EXPECT_EQ(bytes_at(memory, 0, 100), expected);
  EXPECT_EQ(bytes_at(memory, 100, 4), std::vector<std::uint8_t>(4, 0xff));
}

}  // namespace
}  // namespace skav::sim

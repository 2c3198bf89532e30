#include "sim/sparse_memory.h"

#include <gtest/gtest.h>

#include <vector>

namespace skav::sim {
namespace {

std::vector<std::uint8_t> read(const SparseMemory& memory, std::uint64_t address, std::size_t n) {
  std::vector<std::uint8_t> out(n, 0);
  memory.read(address, out.data(), n);
  return out;
}

std::vector<std::uint8_t> bytes(std::size_t n, std::uint8_t value) {
  return std::vector<std::uint8_t>(n, value);
}

TEST(SparseMemory, ReadsFFWhereNothingWasWritten) {
  SparseMemory memory;
  EXPECT_EQ(read(memory, 0x1000, 8), bytes(8, 0xff));
  std::vector<std::uint8_t> data = {1, 2, 3, 4};
  memory.write(0x1000, data.data(), data.size());
  EXPECT_EQ(read(memory, 0x0ffe, 8), (std::vector<std::uint8_t>{0xff, 0xff, 1, 2, 3, 4, 0xff,
                                                                0xff}));
  EXPECT_EQ(read(memory, 0x1002, 1), (std::vector<std::uint8_t>{3}));
}

TEST(SparseMemory, ALaterWriteReplacesTheBytesItCoversAndKeepsTheRest) {
  SparseMemory memory;
  auto a = bytes(10, 0xaa);
  auto b = bytes(4, 0xbb);
  auto c = bytes(10, 0xcc);
  memory.write(100, a.data(), a.size());  // 100..109
  memory.write(120, c.data(), c.size());  // 120..129
  memory.write(108, b.data(), b.size());  // 108..111, overlaps the first only
  EXPECT_EQ(read(memory, 100, 14), (std::vector<std::uint8_t>{0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa,
                                                              0xaa, 0xaa, 0xbb, 0xbb, 0xbb, 0xbb,
                                                              0xff, 0xff}));
  auto d = bytes(22, 0xdd);
  memory.write(105, d.data(), d.size());  // 105..126: bridges both regions
  std::vector<std::uint8_t> expected = bytes(5, 0xaa);
  auto tail = bytes(22, 0xdd);
  expected.insert(expected.end(), tail.begin(), tail.end());
  expected.insert(expected.end(), {0xcc, 0xcc, 0xcc, 0xff});
  EXPECT_EQ(read(memory, 100, 31), expected);
  EXPECT_EQ(memory.used(), 30u) << "overlapping bytes count once";
}

TEST(SparseMemory, AdjacentRegionsStayApartAndReadTogether) {
  SparseMemory memory;
  auto a = bytes(3, 1);
  auto b = bytes(3, 2);
  memory.write(10, a.data(), 3);
  memory.write(13, b.data(), 3);
  memory.write(7, b.data(), 3);
  EXPECT_EQ(read(memory, 7, 9), (std::vector<std::uint8_t>{2, 2, 2, 1, 1, 1, 2, 2, 2}));
  EXPECT_EQ(memory.used(), 9u);
}

TEST(SparseMemory, ARegionNearTheTopOfTheAddressSpaceDoesNotWrapToZero) {
  SparseMemory memory;
  auto a = bytes(512, 0x42);
  memory.write(0xFFFFFF00u, a.data(), a.size());
  EXPECT_EQ(read(memory, 0, 256), bytes(256, 0xff));
  EXPECT_EQ(read(memory, 0xFFFFFF00u, 512), a);
}

TEST(SparseMemory, AnEmptyWriteStoresNothing) {
  SparseMemory memory;
  memory.write(5, nullptr, 0);
  EXPECT_TRUE(memory.empty());
}

}  // namespace
}  // namespace skav::sim

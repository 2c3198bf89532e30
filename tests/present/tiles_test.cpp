#include "present/tiles.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace skav::present {
namespace {

TEST(Tiles, NamesAndCountsAsTheTilesShowThem) {
  EXPECT_EQ(port_name(0), "Port 1");
  EXPECT_EQ(port_name(15), "Port 16");
  const std::vector<std::pair<Totals, std::string>> cases = {
      {Totals{}, "0 passed, 0 failed"},
      {Totals{5, 3, 2}, "3 passed, 2 failed"},
      {Totals{120, 119, 1}, "119 passed, 1 failed"},
  };
  for (const auto& [totals, text] : cases) EXPECT_EQ(tile_counts(totals), text);
}

// Rows of at most four, the columns filled evenly; steps only unfolded and in two rows at most.
TEST(Tiles, GridHasRowsOfAtMostFourAndStepsFitInTwoRows) {
  // Ports, rows, columns, steps shown unfolded.
  const std::vector<std::tuple<int, int, int, bool>> cases = {
      {0, 0, 0, true},  {1, 1, 1, true}, {2, 1, 2, true},  {4, 1, 4, true},  {5, 2, 3, true},
      {7, 2, 4, true},  {8, 2, 4, true}, {9, 3, 3, false}, {12, 3, 4, false}, {16, 4, 4, false}};
  for (const auto& [ports, rows, columns, steps] : cases) {
    const TileGrid grid = tile_grid(ports);
    EXPECT_EQ(grid, (TileGrid{rows, columns})) << ports;
    EXPECT_EQ(tile_steps_shown(grid, false), steps) << ports;
    EXPECT_FALSE(tile_steps_shown(grid, true)) << ports;
  }
}

}  // namespace
}  // namespace skav::present

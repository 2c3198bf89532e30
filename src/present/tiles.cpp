#include "present/tiles.h"

namespace skav::present {

std::string port_name(int index) { return "Port " + std::to_string(index + 1); }

std::string tile_counts(const Totals& totals) {
  // Beside the badge there is room for two numbers: the boards are the two added.
  return std::to_string(totals.passed) + " passed, " + std::to_string(totals.failed) + " failed";
}

TileGrid tile_grid(int count) {
  if (count <= 0) return {};
  TileGrid grid;
  grid.rows = (count + kTileColumns - 1) / kTileColumns;
  grid.columns = (count + grid.rows - 1) / grid.rows;
  return grid;
}

bool tile_steps_shown(const TileGrid& grid, bool folded) { return !folded && grid.rows <= 2; }

}  // namespace skav::present

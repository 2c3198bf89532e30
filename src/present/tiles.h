#pragma once

#include <string>

#include "present/totals.h"

namespace skav::present {

// What a window with several ports shows of each port beside the board's panel: a tile per
// port, in rows of at most kTileColumns.

inline constexpr int kTileColumns = 4;
// The badge of a port whose MAC entry is pending.
inline constexpr const char* kAsksForAddress = "ASKS FOR MAC ADDRESS";

// "Port 2" for the port of index 1, until the window knows the port's adapter.
std::string port_name(int index);
// The port's passes and failures this shift, short: "3 passed, 1 failed".
std::string tile_counts(const Totals& totals);

// How `count` ports' tiles are laid out: rows of at most kTileColumns, the columns filled
// evenly ("5 ports: 2 rows of 3").
struct TileGrid {
  int rows = 0;
  int columns = 0;
  bool operator==(const TileGrid&) const = default;
};
TileGrid tile_grid(int count);
// Whether the tiles show the run's steps: unfolded, and in two rows at most (more leave no
// room).
bool tile_steps_shown(const TileGrid& grid, bool folded);

}  // namespace skav::present

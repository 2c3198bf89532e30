#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "core/station/station_events.h"
#include "present/panel.h"
#include "present/totals.h"

namespace skav::present {

// What a window with several ports shows of each port beside the board's panel: a tile per
// port, in rows of at most kTileColumns.

inline constexpr int kTileColumns = 4;
// The badge of a port whose MAC entry is pending.
inline constexpr const char* kAsksForAddress = "ASKS FOR MAC ADDRESS";
// Ctrl and a digit select a port: Ctrl+1 the first, up to Ctrl+9.
inline constexpr int kSelectKeys = 9;

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

// The port that Ctrl+`digit` selects among `ports`; none for a digit out of 1-9 or a port
// there is not.
std::optional<int> port_for_digit(int digit, int ports);

// The line above the panel's word: the board's line, or "No board yet" while the station
// searches; empty while a new board answers, which is a board, just not numbered yet.
std::string board_caption(const Panel& panel);

// One port as a window knows it: its name, its latest snapshot (null before the first) and its
// boards this shift.
struct TilePort {
  std::string name;
  const station::StationSnapshot* snapshot = nullptr;
  Totals totals;
};

// The texts of one port's tile.
struct TileText {
  std::string name;
  std::string counts;  // "3 passed, 1 failed"
  bool asks = false;   // the ASKS FOR MAC ADDRESS badge
  // "scanning for sim1" on the port that the operator's typing goes to while it asks.
  std::string typing;
  // "refused: 11 digits" after an entry the port asked again for, until typing resumes.
  std::string refused;
  // The panel, with the board's address shortened by the bytes every tile's address shares.
  Panel panel;
  std::string caption;  // board_caption of the panel
};

// The tiles of `ports`, with the operator's typing going to `typing` (none: nowhere).
std::vector<TileText> tile_texts(const std::vector<TilePort>& ports, std::optional<std::size_t> typing);

// The leading bytes ("02:00:00:") that may go from every address of `addresses` ("02:00:00:0A:00:02"
// each): those all of them share, when there are two or more, and never more than the first
// three, so that what tells boards apart stays whole and a label can still be checked.
std::string shared_address_start(const std::vector<std::string>& addresses);
// `address` without `shared` at its start, marked as shortened: "...0A:00:02". A face that
// wraps the line keeps the mark with the bytes after it, so that an address never breaks.
inline constexpr const char* kShortened = "...";
std::string short_address(const std::string& address, const std::string& shared);

// Whether a port's snapshot brings a refused entry the window has not called the operator for
// yet; `seen` is the count of refusals already called for, carried from call to call.
bool new_refusal(const station::StationSnapshot& snapshot, int& seen);

}  // namespace skav::present

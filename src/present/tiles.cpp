#include "present/tiles.h"

#include <algorithm>

#include "core/mac_digits.h"

namespace skav::present {

namespace {

// Bytes of an address that may be left out at most: the first three, which name the maker and
// are the same across a line's boards; the last three tell the boards apart.
constexpr std::size_t kMostSharedBytes = 3;
constexpr std::size_t kByteText = 3;  // "0A:"

// The address written into the port's board, as its panel shows it; empty when none shows.
std::string shown_address(const TilePort& port, const Panel& panel) {
  if (port.snapshot == nullptr || !port.snapshot->board || !port.snapshot->board->address_written) return {};
  std::string address = MacDigits::colon_text(port.snapshot->board->address);
  return panel.board.find(address) == std::string::npos ? std::string() : address;
}

}  // namespace

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

std::optional<int> port_for_digit(int digit, int ports) {
  if (digit < 1 || digit > kSelectKeys || digit > ports) return std::nullopt;
  return digit - 1;
}

std::string board_caption(const Panel& panel) {
  if (!panel.board.empty()) return panel.board;
  if (panel.word == Word::kConnected) return {};
  return "No board yet";
}

std::string shared_address_start(const std::vector<std::string>& addresses) {
  if (addresses.size() < 2) return {};
  std::size_t bytes = 0;
  while (bytes < kMostSharedBytes) {
    const std::size_t end = (bytes + 1) * kByteText;
    const std::string start = addresses.front().substr(0, end);
    if (start.size() < end) break;
    bool all = std::all_of(addresses.begin(), addresses.end(),
                           [&](const std::string& address) { return address.compare(0, end, start) == 0; });
    if (!all) break;
    ++bytes;
  }
  return addresses.front().substr(0, bytes * kByteText);
}

std::string short_address(const std::string& address, const std::string& shared) {
  if (shared.empty() || address.compare(0, shared.size(), shared) != 0) return address;
  return kShortened + address.substr(shared.size());
}

std::vector<TileText> tile_texts(const std::vector<TilePort>& ports, std::optional<std::size_t> typing) {
  std::vector<TileText> tiles(ports.size());
  std::vector<std::string> addresses(ports.size());
  std::vector<std::string> shown;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const TilePort& port = ports[i];
    TileText& tile = tiles[i];
    tile.name = port.name.empty() ? port_name(static_cast<int>(i)) : port.name;
    tile.counts = tile_counts(port.totals);
    if (port.snapshot == nullptr) {
      tile.caption = board_caption(tile.panel);
      continue;
    }
    const station::StationSnapshot& snapshot = *port.snapshot;
    tile.panel = make_panel(snapshot);
    tile.asks = snapshot.entry_pending;
    if (snapshot.entry_pending && typing == i) tile.typing = "scanning for " + tile.name;
    if (snapshot.entry_pending && !snapshot.entry_refused.empty())
      tile.refused = "refused: " + snapshot.entry_refused;
    addresses[i] = shown_address(port, tile.panel);
    if (!addresses[i].empty()) shown.push_back(addresses[i]);
  }
  const std::string shared = shared_address_start(shown);
  for (std::size_t i = 0; i < tiles.size(); ++i) {
    Panel& panel = tiles[i].panel;
    if (!shared.empty() && !addresses[i].empty())
      panel.board.replace(panel.board.find(addresses[i]), addresses[i].size(),
                          short_address(addresses[i], shared));
    tiles[i].caption = board_caption(panel);
  }
  return tiles;
}

bool new_refusal(const station::StationSnapshot& snapshot, int& seen) {
  const bool fresh = snapshot.entry_refusals > seen;
  seen = std::max(seen, snapshot.entry_refusals);
  return fresh;
}

}  // namespace skav::present

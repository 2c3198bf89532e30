#include "present/font_sizes.h"

#include <algorithm>

namespace skav::present {

PanelFonts panel_fonts(int window_height, int tile_rows) {
  PanelFonts fonts;
  fonts.word = std::clamp(window_height / 20, 28, 80);
  fonts.text = std::max(11, fonts.word / 3);
  fonts.line = line_points(fonts.word);
  fonts.counts = counts_points(fonts.text);
  fonts.small = small_points(fonts.text);
  // 28 points at 800 pixels in one row.
  fonts.tile_word = std::clamp(window_height / (28 * std::max(tile_rows, 1)), 14, 56);
  fonts.tile_text = small_points(fonts.text);
  return fonts;
}

namespace {

// Ems that must fit across a tile or the totals, and pixels per point at 96 dots per inch
// (4 pixels for 3 points).
constexpr int kTileLineEms = 20;
constexpr int kWordEms = 12;
constexpr int kCountsEms = 17;
constexpr int kSmallestTileText = 8;
constexpr int kSmallestTileWord = 12;
constexpr int kSmallestText = 9;

// The largest size in points at which `ems` ems fit in `pixels`.
int points_for(int pixels, int ems) { return pixels * 3 / (4 * ems); }

}  // namespace

PanelFonts fit_tiles(PanelFonts fonts, int window_width, int columns) {
  if (window_width <= 0 || columns <= 0) return fonts;
  const int tile = window_width * 3 / 4 / columns;
  const int totals = window_width / 4;
  // Never larger than the height gives.
  fonts.tile_text = std::min(fonts.tile_text, std::max(points_for(tile, kTileLineEms), kSmallestTileText));
  fonts.tile_word = std::min(fonts.tile_word, std::max(points_for(tile, kWordEms), kSmallestTileWord));
  // The counts are a third larger than the text.
  fonts.text = std::min(fonts.text, std::max(points_for(totals, kCountsEms) * 3 / 4, kSmallestText));
  fonts.counts = counts_points(fonts.text);
  fonts.small = small_points(fonts.text);
  return fonts;
}

int tile_line_points(const PanelFonts& fonts) {
  return std::max(fonts.tile_text, std::min(line_points(fonts.tile_word), fonts.tile_text + 2));
}

int line_points(int word) { return std::max(12, word * 9 / 20); }

int counts_points(int text) { return text + text / 3; }

int small_points(int text) { return std::max(9, text - 2); }

int zoomed_log_points(int points, int step) {
  return std::clamp(points + step, kSmallestLogPoints, kLargestLogPoints);
}

}  // namespace skav::present

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

// What must fit on one line across a tile or the totals, in tenths of an em of its type, and
// the pixels of frames, margins and gaps around it; 4 pixels to 3 points at 96 dots per inch.
// A tile's text: a step's name and its widest state word side by side, or the badge; and the
// board's line with its address, which a face may keep on one line.
constexpr int kTileTextTenths = 143;
constexpr int kTileTextPixels = 50;
constexpr int kTileLineTenths = 200;
// A tile's word: "ADAPTER ERROR" in bold, with its mark.
constexpr int kWordTenths = 106;
constexpr int kWordPixels = 58;
// The shift's counts: "150 boards   128 passed   22 failed".
constexpr int kCountsTenths = 200;
constexpr int kTotalsPixels = 28;
constexpr int kSmallestTileText = 8;
constexpr int kSmallestTileWord = 12;
constexpr int kSmallestText = 9;

// The largest size in points at which `tenths` tenths of an em fit in `pixels` less `padding`.
int points_for(int pixels, int padding, int tenths) { return std::max(pixels - padding, 0) * 30 / (4 * tenths); }

}  // namespace

PanelFonts fit_tiles(PanelFonts fonts, int window_width, int columns) {
  if (window_width <= 0 || columns <= 0) return fonts;
  const int tile = window_width * 3 / 4 / columns;
  const int totals = window_width / 4;
  // Never larger than the height gives.
  const int tile_text =
      std::min(points_for(tile, kTileTextPixels, kTileTextTenths), points_for(tile, 0, kTileLineTenths));
  fonts.tile_text = std::min(fonts.tile_text, std::max(tile_text, kSmallestTileText));
  fonts.tile_word = std::min(fonts.tile_word, std::max(points_for(tile, kWordPixels, kWordTenths), kSmallestTileWord));
  // The counts are a third larger than the text.
  fonts.text = std::min(fonts.text, std::max(points_for(totals, kTotalsPixels, kCountsTenths) * 3 / 4, kSmallestText));
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

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

int line_points(int word) { return std::max(12, word * 9 / 20); }

int counts_points(int text) { return text + text / 3; }

int small_points(int text) { return std::max(9, text - 2); }

int zoomed_log_points(int points, int step) {
  return std::clamp(points + step, kSmallestLogPoints, kLargestLogPoints);
}

}  // namespace skav::present

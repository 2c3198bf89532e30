#pragma once

namespace skav::present {

// The operator panel's type sizes in points, from the window's height in pixels: 40 points for
// the board's word at 800 pixels, more on a larger screen, never below 28; the rest from it,
// so that the panel reads from across the bench at any size.
struct PanelFonts {
  int word = 0;       // the board's state in one word
  int line = 0;       // the board's lines under the word
  int text = 0;       // steps, totals
  int counts = 0;     // the shift's counts, a third larger than the text
  int small = 0;      // buttons and the steps' bars
  int tile_word = 0;  // a port tile's word, smaller in more rows of tiles
  int tile_text = 0;  // a port tile's lines
  bool operator==(const PanelFonts&) const = default;
};
// `tile_rows`: rows of port tiles (1 or more; ignored without tiles).
PanelFonts panel_fonts(int window_height, int tile_rows = 1);
// The sizes that follow from another: the board's lines from its word, the shift's counts and
// the small text (buttons, bars) from the text.
int line_points(int word);

// `fonts` for tiles in `columns` columns (1 to 4) across a window `window_width` pixels wide
// (at 96 dots per inch, 100 % scale), where the tiles take three parts of four and the totals
// the fourth: the tiles' and the totals' sizes come down until, with their frames and margins,
// a tile's widest line that does not wrap (a step's name and state, about 14 ems), its board
// line with the address (about 20 ems across the tile), its state word ("ADAPTER ERROR" with
// its mark, about 11 ems) and the shift's counts (about 20 ems) fit, never below the smallest
// readable size. A width of 0 leaves `fonts` as they are.
PanelFonts fit_tiles(PanelFonts fonts, int window_width, int columns);
// A tile's board line and failure line: between the tile's text and its word, and never wider
// than the text allows by more than two points.
int tile_line_points(const PanelFonts& fonts);
int counts_points(int text);
int small_points(int text);

// The log's font: its size at first and the bounds of View, Zoom In and Zoom Out.
inline constexpr int kLogPoints = 11;
inline constexpr int kSmallestLogPoints = 6;
inline constexpr int kLargestLogPoints = 48;
// The log's size `step` points from `points`, within the bounds (a stored size out of them is
// brought back in with step 0).
int zoomed_log_points(int points, int step);

}  // namespace skav::present

#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "present/panel.h"
#include "present/tiles.h"
#include "present/totals.h"

namespace skav::windows::gui {

// The tiles of a station with several ports, painted by the operator panel in place of the
// board's panel and steps: per port its name and its passes and failures this shift, under them
// (never over the counts) a badge while it asks for a MAC address with the notes that typing
// goes to it or that an entry was refused, the board's state word on its colour between the
// board line and the failure line, and the run's steps, brief (a row's text only says why a step
// was skipped; the failure line says why one failed). The selected tile is framed in the highlight colour. It paints what it
// is given.
class PortTiles {
 public:
  // What one tile shows.
  using Tile = present::TileText;
  PortTiles() = default;
  ~PortTiles();
  PortTiles(const PortTiles&) = delete;
  PortTiles& operator=(const PortTiles&) = delete;

  // Makes `count` tiles (2 or more), in rows of at most four; once.
  void make(int count);
  int count() const { return static_cast<int>(tiles_.size()); }
  int rows() const { return grid_.rows; }
  int columns() const { return grid_.columns; }
  const Tile& tile(int port) const { return tiles_[static_cast<std::size_t>(port)]; }

  // Drops the fonts, so that the next fit_to makes them again (at a new DPI).
  void forget_fonts() { free_fonts(); }
  // The tiles' texts, as the model worked them out; tiles beyond the count are ignored.
  void show(std::vector<Tile> tiles);
  void select(int port) { selected_ = port; }
  int selected() const { return selected_; }
  // Folded, or in more than two rows (no room): each tile keeps its word, the steps go.
  void set_folded(bool folded) { folded_ = folded; }
  bool steps_shown() const { return present::tile_steps_shown(grid_, folded_); }

  // Sizes the text: the word `word_points` (present::panel_fonts' tile_word), the board and
  // failure lines `line_points` (present::tile_line_points), the other texts `text_points`.
  void fit_to(HDC dc, int word_points, int text_points, int line_points);
  // The grid's height in pixels at the current text size.
  int height() const;
  void paint(HDC dc, const RECT& box) const;
  // The tile under `point` when the grid fills `box`; -1: none.
  int port_at(const RECT& box, POINT point) const;
  // Tile `port`'s rectangle when the grid fills `box`.
  RECT tile_box(const RECT& box, int port) const;
  // True when tile `port`'s board line and reason, as painted in the grid filling `box`, show
  // whole: wrapped within their lines, no word cut.
  bool texts_whole(HDC dc, const RECT& box, int port) const;

 private:
  // Where a tile's word box, board line and reason go, inside the tile's rectangle `box`.
  RECT verdict_box(const RECT& box) const;
  RECT caption_box(const RECT& box) const;
  RECT detail_box(const RECT& box) const;
  void paint_tile(HDC dc, const RECT& box, const Tile& tile, bool selected) const;
  int tile_height() const;
  void free_fonts();

  std::vector<Tile> tiles_;
  present::TileGrid grid_;
  int selected_ = 0;
  bool folded_ = false;

  int word_points_ = 0;
  int text_points_ = 0;
  int line_points_ = 0;
  HFONT name_font_ = nullptr;    // the port's name, bold
  HFONT badge_font_ = nullptr;   // the badge, bold
  HFONT text_font_ = nullptr;    // counts and step texts
  HFONT bold_font_ = nullptr;    // step names and states
  HFONT word_font_ = nullptr;
  HFONT line_font_ = nullptr;    // the board line
  HFONT detail_font_ = nullptr;  // the failure line, bold
  HFONT small_font_ = nullptr;   // the bars' percentages
  int head_line_ = 0;
  int notes_line_ = 0;  // the badge's line
  int word_line_ = 0;
  int line_line_ = 0;
  int text_line_ = 0;
  int name_width_ = 0;
  int state_width_ = 0;
  int bar_width_ = 0;
};

}  // namespace skav::windows::gui

#pragma once

#include <windows.h>

#include <functional>

#include "frontends/win32/port_tiles.h"
#include "present/panel.h"
#include "present/totals.h"

namespace skav::windows::gui {

// The operator view above the log, painted with GDI in a child window: the board's state word
// on a background of its meaning with the board line above and the failure line below, the
// shift's and today's totals beside it with a Reset button, and one row per step of the run
// (name, state in its colour, a bar while the step's data moves, what the step does or why it
// failed). With several ports, a tile for each port takes the place of the board's panel and
// steps; the totals (of all ports) stay beside the tiles. It shows what it is given; the window
// works out what that is.
class OperatorPanel {
 public:
  // The panel's window class.
  static constexpr const wchar_t* kClass = L"SKAVPanel";

  OperatorPanel() = default;
  ~OperatorPanel();
  OperatorPanel(const OperatorPanel&) = delete;
  OperatorPanel& operator=(const OperatorPanel&) = delete;

  // Creates the panel as a child of `parent`. False when the system refuses.
  bool create(HINSTANCE instance, HWND parent);
  HWND handle() const { return window_; }
  HWND reset_button() const { return reset_; }

  void show_panel(const present::Panel& panel);
  void show_totals(const present::TotalsText& totals);
  const present::Panel& panel() const { return panel_; }
  const present::TotalsText& totals() const { return totals_; }

  // Sizes the text for a window `window_height` pixels high and `window_width` wide: the word at
  // least 28 points, more on a larger window, the rest about a third of it; tiles and totals
  // come down to fit the width (present::fit_tiles).
  void fit_to(int window_height, int window_width = 0);
  // Drops the fonts, the tiles' too, so that the next fit_to makes them again (at a new DPI).
  void forget_fonts();
  // The height in pixels the panel needs at its current text size. It has a row for every
  // step the station knows, so that the log below does not move when a board's plan arrives.
  int height() const { return height_ + notice_height(); }
  // A line at the panel's foot that stays while the station runs (empty: none).
  void set_notice(std::string notice);
  const std::string& notice() const { return notice_; }

  // Several ports: makes `count` tiles (2 or more); once. Change them through tiles(), then
  // update_tiles().
  void make_tiles(int count);
  PortTiles& tiles() { return tiles_; }
  const PortTiles& tiles() const { return tiles_; }
  void update_tiles();
  // Folded, with tiles: each keeps its word; the steps, the totals and Reset go.
  void set_compact(bool compact);
  bool compact() const { return compact_; }
  // Where the tiles are painted in the panel's window (empty without tiles).
  RECT tiles_box() const;
  // Whether every line of the totals shows whole in the room they are given beside the board
  // or the tiles (folded tiles show none: true).
  bool totals_whole(HDC dc) const;
  // Called with the port whose tile the operator clicked.
  void set_on_select(std::function<void(int port)> on_select) { on_select_ = std::move(on_select); }

  // Called when the operator presses Reset.
  void set_on_reset(std::function<void()> on_reset) { on_reset_ = std::move(on_reset); }

 private:
  static LRESULT CALLBACK proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  void paint(HDC dc, const RECT& area) const;
  // Where the word's box (or the tiles) ends and the totals begin, for a panel `width` wide.
  int split(HDC dc, int width) const;
  void update_height();
  void select_at(POINT point);
  // The totals' box: as wide as its longest line.
  int totals_width(HDC dc) const;
  // Beside the tiles the totals keep a quarter of the width and wrap within it: where each
  // line goes in `box`, and whether they all show whole.
  struct WrappedTotals {
    RECT shift{}, counts{}, rate{}, today{};
    bool whole = true;
  };
  WrappedTotals wrap_totals(HDC dc, const RECT& box) const;
  // The totals' box beside the tiles, in a panel `area`.
  RECT tiles_totals_box(HDC dc, const RECT& area) const;
  void paint_verdict(HDC dc, const RECT& box) const;
  void paint_totals(HDC dc, const RECT& box) const;
  void paint_wrapped_totals(HDC dc, const RECT& box) const;
  void paint_steps(HDC dc, const RECT& box) const;
  int notice_height() const { return notice_.empty() ? 0 : text_line_ + kNoticeGap; }
  void free_fonts();
  void place_reset();

  HWND window_ = nullptr;
  HWND reset_ = nullptr;
  std::function<void()> on_reset_;
  std::function<void(int)> on_select_;
  PortTiles tiles_;
  bool compact_ = false;
  int window_height_ = 600;
  int window_width_ = 0;
  int text_points_ = 0;
  present::Panel panel_;
  present::TotalsText totals_;
  std::string notice_;
  static constexpr int kNoticeGap = 4;

  // Fonts for a size; rebuilt when the window's height gives another.
  int word_points_ = 0;
  HFONT word_font_ = nullptr;    // the state word, bold
  HFONT line_font_ = nullptr;    // the board line
  HFONT detail_font_ = nullptr;  // the failure line, bold
  HFONT text_font_ = nullptr;    // totals and step texts
  HFONT bold_font_ = nullptr;    // step names and states
  HFONT counts_font_ = nullptr;  // the shift's counts, larger and bold
  HFONT small_font_ = nullptr;   // the Reset button and the bars' percentages
  // Line heights in pixels, measured from the fonts.
  int word_line_ = 0;
  int line_line_ = 0;
  int text_line_ = 0;
  int counts_line_ = 0;
  int top_height_ = 0;   // the word's box and the totals
  int name_width_ = 0;   // the steps' columns
  int state_width_ = 0;
  int bar_width_ = 0;
  int height_ = 0;
};

}  // namespace skav::windows::gui

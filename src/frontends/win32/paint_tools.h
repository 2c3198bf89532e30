#pragma once

#include <windows.h>

#include <string>

#include "present/marks.h"
#include "present/panel.h"

namespace skav::windows::gui {

// The GDI drawing the operator panel and the port tiles share.

// UTF-8 (the panel's texts) as UTF-16 (what GDI takes).
std::wstring wide(const std::string& text);
// The DPI `window` is shown at: its monitor's where the system tells each window's (Windows 10
// 1607 and later, the program being per-monitor aware), else the system's.
int dpi_of(HWND window);
// A Tahoma font of `points` for the device `dc` (at its window's DPI); the caller deletes it.
HFONT make_font(HDC dc, int points, bool bold);
// A line's height in pixels, and a text's width, in `font`.
int line_height(HDC dc, HFONT font);
int text_width(HDC dc, HFONT font, const std::string& text);
// One line of text, cut with an ellipsis at the box's right edge.
void draw_line(HDC dc, HFONT font, const std::string& text, RECT box, UINT align = DT_LEFT);
// Text wrapped at spaces over as many lines as `box` holds, a line that is not whole left out;
// only a word wider than the box is cut with an ellipsis.
void draw_wrapped(HDC dc, HFONT font, const std::string& text, RECT box);
COLORREF colorref(present::Rgb rgb);
void fill(HDC dc, const RECT& box, COLORREF colour);
// `mark`'s outline in the largest square centred in `box`, in `colour`, with round pens: the
// word's shape, drawn, since a font may lack such glyphs.
void draw_mark(HDC dc, const RECT& box, present::Mark mark, COLORREF colour);
// A word after its mark: the mark as tall as the font's capitals, then `text`. The text's left
// edge is returned.
int draw_marked_word(HDC dc, HFONT font, present::Word word, COLORREF colour, RECT box);
// A bar for a moving step: a sunken trough filled to `percent`, the number on it.
void draw_bar(HDC dc, HFONT font, const RECT& bar, int percent);

}  // namespace skav::windows::gui

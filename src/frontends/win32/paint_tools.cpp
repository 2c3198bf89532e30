#include "frontends/win32/paint_tools.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace skav::windows::gui {

std::wstring wide(const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(std::max(n, 0)), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

int dpi_of(HWND window) {
  // Looked up at run time: the programs still start on Windows 7, which lacks it.
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto get_dpi_for_window = reinterpret_cast<GetDpiForWindowFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (get_dpi_for_window != nullptr && window != nullptr)
    if (const UINT dpi = get_dpi_for_window(window); dpi != 0) return static_cast<int>(dpi);
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

HFONT make_font(HDC dc, int points, bool bold) {
  // A window's device context reports the system's DPI, not its monitor's.
  HWND window = WindowFromDC(dc);
  const int dpi = window != nullptr ? dpi_of(window) : GetDeviceCaps(dc, LOGPIXELSY);
  return CreateFontW(-MulDiv(points, dpi, 72), 0, 0, 0,
                     bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     FF_SWISS | VARIABLE_PITCH, L"Tahoma");
}

int line_height(HDC dc, HFONT font) {
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  return metrics.tmHeight + metrics.tmExternalLeading;
}

int text_width(HDC dc, HFONT font, const std::string& text) {
  HGDIOBJ old = SelectObject(dc, font);
  std::wstring shown = wide(text);
  SIZE size{};
  GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()), &size);
  SelectObject(dc, old);
  return size.cx;
}

void draw_line(HDC dc, HFONT font, const std::string& text, RECT box, UINT align) {
  HGDIOBJ old = SelectObject(dc, font);
  std::wstring shown = wide(text);
  DrawTextW(dc, shown.c_str(), static_cast<int>(shown.size()), &box,
            align | DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
  SelectObject(dc, old);
}

void draw_wrapped(HDC dc, HFONT font, const std::string& text, RECT box) {
  HGDIOBJ old = SelectObject(dc, font);
  std::wstring shown = wide(text);
  DrawTextW(dc, shown.c_str(), static_cast<int>(shown.size()), &box,
            DT_LEFT | DT_WORDBREAK | DT_EDITCONTROL | DT_END_ELLIPSIS | DT_NOPREFIX);
  SelectObject(dc, old);
}

COLORREF colorref(present::Rgb rgb) { return RGB(rgb.red, rgb.green, rgb.blue); }

void fill(HDC dc, const RECT& box, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &box, brush);
  DeleteObject(brush);
}

void draw_mark(HDC dc, const RECT& box, present::Mark mark, COLORREF colour) {
  const int side = std::min(box.right - box.left, box.bottom - box.top);
  if (side <= 0) return;
  const int left = box.left + (box.right - box.left - side) / 2;
  const int top = box.top + (box.bottom - box.top - side) / 2;
  LOGBRUSH brush_style{BS_SOLID, colour, 0};
  const auto pen_width = static_cast<DWORD>(std::max(1.0f, static_cast<float>(side) * present::kMarkPen + 0.5f));
  HPEN pen = ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND | PS_JOIN_ROUND, pen_width,
                          &brush_style, 0, nullptr);
  HBRUSH brush = CreateSolidBrush(colour);
  HGDIOBJ old_pen = SelectObject(dc, pen);
  HGDIOBJ old_brush = SelectObject(dc, GetStockObject(NULL_BRUSH));
  // The longest stroke is a circle's polygon; no stroke allocates while painting.
  std::array<POINT, 40> points{};
  for (const present::MarkStroke& stroke : present::mark_strokes(mark)) {
    const std::size_t count = std::min(stroke.points.size(), points.size());
    for (std::size_t i = 0; i < count; ++i)
      points[i] = POINT{left + static_cast<LONG>(stroke.points[i].x * static_cast<float>(side) + 0.5f),
                        top + static_cast<LONG>(stroke.points[i].y * static_cast<float>(side) + 0.5f)};
    if (stroke.closed) {
      SelectObject(dc, stroke.filled ? static_cast<HGDIOBJ>(brush) : GetStockObject(NULL_BRUSH));
      Polygon(dc, points.data(), static_cast<int>(count));
    } else {
      Polyline(dc, points.data(), static_cast<int>(count));
    }
  }
  SelectObject(dc, old_brush);
  SelectObject(dc, old_pen);
  DeleteObject(brush);
  DeleteObject(pen);
}

int draw_marked_word(HDC dc, HFONT font, present::Word word, COLORREF colour, RECT box) {
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  // The capitals' height: the ascent less the room kept above them for accents.
  const int side = std::max(1, static_cast<int>(metrics.tmAscent - metrics.tmInternalLeading) * 5 / 4);
  const int middle = (box.top + box.bottom) / 2;
  draw_mark(dc, RECT{box.left, middle - side / 2, box.left + side, middle - side / 2 + side},
            present::mark_of(word), colour);
  box.left += side + std::max(4, side / 2);
  SetTextColor(dc, colour);
  draw_line(dc, font, present::word_text(word), box);
  return box.left;
}

void draw_bar(HDC dc, HFONT font, const RECT& bar, int percent) {
  percent = std::clamp(percent, 0, 100);
  RECT trough = bar;
  DrawEdge(dc, &trough, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
  FillRect(dc, &trough, GetSysColorBrush(COLOR_WINDOW));
  RECT done = trough;
  done.right = done.left + (trough.right - trough.left) * percent / 100;
  FillRect(dc, &done, GetSysColorBrush(COLOR_HIGHLIGHT));
  char text[8];
  std::snprintf(text, sizeof text, "%d%%", percent);
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  draw_line(dc, font, text, bar, DT_CENTER);
}

}  // namespace skav::windows::gui

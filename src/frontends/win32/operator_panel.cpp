#include "frontends/win32/operator_panel.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "core/station/plan.h"
#include "frontends/win32/paint_tools.h"
#include "present/font_sizes.h"

namespace skav::windows::gui {

namespace {

// The totals' words wrap between their figures ("4 boards", "3 passed", "Today: 4 boards:"),
// not within one: a single space not after a comma or a colon does not break.
std::string between_figures(const std::string& text) {
  std::string kept;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool single = text[i] == ' ' && (i == 0 || text[i - 1] != ' ') &&
                        (i + 1 == text.size() || text[i + 1] != ' ');
    const bool after_mark = i > 0 && (text[i - 1] == ',' || text[i - 1] == ':');
    kept += single && !after_mark ? std::string("\xC2\xA0") : std::string(1, text[i]);
  }
  return kept;
}

// The room `text` takes wrapped within `width` in `font`: the widest line (wider than `width`
// when a figure alone is) and the height.
SIZE wrapped_size(HDC dc, HFONT font, const std::string& text, int width) {
  HGDIOBJ old = SelectObject(dc, font);
  const std::wstring shown = wide(between_figures(text));
  RECT box{0, 0, width, 0};
  DrawTextW(dc, shown.c_str(), static_cast<int>(shown.size()), &box,
            DT_LEFT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX | DT_CALCRECT);
  SelectObject(dc, old);
  return SIZE{box.right - box.left, box.bottom - box.top};
}

// Spacing in pixels, as the Qt window lays its panel out.
constexpr int kVerdictMarginX = 16;
constexpr int kVerdictMarginY = 8;
constexpr int kTotalsMarginX = 12;
constexpr int kTotalsMarginY = 6;
constexpr int kLineGap = 2;
constexpr int kStepsGap = 4;   // between the word's box and the steps
constexpr int kColumnGap = 16;
constexpr int kBarChars = 30;  // a bar is as wide as this many digits

}  // namespace

OperatorPanel::~OperatorPanel() { free_fonts(); }

bool OperatorPanel::create(HINSTANCE instance, HWND parent) {
  WNDCLASSEXW panel_class{};
  panel_class.cbSize = sizeof panel_class;
  panel_class.lpfnWndProc = proc;
  panel_class.hInstance = instance;
  panel_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
  panel_class.lpszClassName = kClass;
  if (RegisterClassExW(&panel_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    return false;
  window_ = CreateWindowExW(0, kClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0, 0,
                            parent, nullptr, instance, nullptr);
  if (window_ == nullptr) return false;
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  // The button never keeps the keyboard: the log has it for the MAC entry.
  reset_ = CreateWindowExW(0, L"BUTTON", L"Reset", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0, 0, 0,
                           window_, nullptr, instance, nullptr);
  if (reset_ == nullptr) return false;
  fit_to(600);
  show_totals(present::totals_text(present::Totals{}, std::nullopt, {}, present::Totals{}));
  return true;
}

void OperatorPanel::forget_fonts() {
  free_fonts();
  tiles_.forget_fonts();
}

void OperatorPanel::free_fonts() {
  for (HFONT* font : {&word_font_, &line_font_, &detail_font_, &text_font_, &bold_font_,
                      &counts_font_, &small_font_}) {
    if (*font != nullptr) DeleteObject(*font);
    *font = nullptr;
  }
}

void OperatorPanel::fit_to(int window_height, int window_width) {
  window_height_ = window_height;
  window_width_ = window_width;
  present::PanelFonts fonts = present::panel_fonts(window_height, std::max(1, tiles_.rows()));
  if (tiles_.count() > 0) {
    fonts = present::fit_tiles(fonts, window_width, tiles_.columns());
    HDC dc = GetDC(window_);
    tiles_.fit_to(dc, fonts.tile_word, fonts.tile_text, present::tile_line_points(fonts));
    ReleaseDC(window_, dc);
  }
  if (fonts.word == word_points_ && fonts.text == text_points_ && word_font_ != nullptr) {
    update_height();
    return;
  }
  word_points_ = fonts.word;
  text_points_ = fonts.text;
  free_fonts();
  HDC dc = GetDC(window_);
  word_font_ = make_font(dc, fonts.word, true);
  line_font_ = make_font(dc, fonts.line, false);
  detail_font_ = make_font(dc, fonts.line, true);
  text_font_ = make_font(dc, fonts.text, false);
  bold_font_ = make_font(dc, fonts.text, true);
  counts_font_ = make_font(dc, fonts.counts, true);
  small_font_ = make_font(dc, fonts.small, false);
  word_line_ = line_height(dc, word_font_);
  line_line_ = line_height(dc, line_font_);
  text_line_ = line_height(dc, text_font_);
  counts_line_ = line_height(dc, counts_font_);
  name_width_ = text_width(dc, bold_font_, "environment") + 8;
  state_width_ = text_width(dc, bold_font_, present::kWidestStepWord) + 8;
  bar_width_ = text_width(dc, text_font_, "0") * kBarChars;
  const int button_height = line_height(dc, small_font_) + 8;
  ReleaseDC(window_, dc);
  SendMessageW(reset_, WM_SETFONT, reinterpret_cast<WPARAM>(small_font_), TRUE);

  const int verdict = 2 * kVerdictMarginY + 2 * line_line_ + word_line_ + 2 * kLineGap;
  const int totals = 2 * kTotalsMarginY + std::max(text_line_, button_height) + counts_line_ +
                     2 * text_line_ + 3 * kLineGap;
  top_height_ = std::max(verdict, totals);
  update_height();
  place_reset();
  InvalidateRect(window_, nullptr, FALSE);
}

void OperatorPanel::update_height() {
  if (tiles_.count() == 0) {
    height_ = top_height_ + kStepsGap + 2 * kLineGap +
              static_cast<int>(station::kStepSlots) * (text_line_ + kLineGap);
  } else {
    height_ = std::max(tiles_.height(), compact_ ? 0 : top_height_);
  }
}

void OperatorPanel::make_tiles(int count) {
  if (tiles_.count() > 0 || count < 2) return;
  tiles_.make(count);
  word_points_ = 0;  // the fonts and the height again, for the tiles
  fit_to(window_height_, window_width_);
}

void OperatorPanel::update_tiles() { InvalidateRect(window_, nullptr, FALSE); }

void OperatorPanel::set_compact(bool compact) {
  compact_ = compact;
  tiles_.set_folded(compact);
  if (tiles_.count() > 0) ShowWindow(reset_, compact ? SW_HIDE : SW_SHOW);
  update_height();
  InvalidateRect(window_, nullptr, FALSE);
}

RECT OperatorPanel::tiles_box() const {
  if (tiles_.count() == 0) return RECT{};
  RECT area{};
  GetClientRect(window_, &area);
  HDC dc = GetDC(window_);
  const int right = split(dc, area.right);
  ReleaseDC(window_, dc);
  return RECT{0, 0, right, tiles_.height()};
}

bool OperatorPanel::totals_whole(HDC dc) const {
  if (tiles_.count() > 0 && compact_) return true;
  RECT area{};
  GetClientRect(window_, &area);
  if (tiles_.count() > 0) return wrap_totals(dc, tiles_totals_box(dc, area)).whole;
  return totals_width(dc) <= area.right - split(dc, area.right);
}

RECT OperatorPanel::tiles_totals_box(HDC dc, const RECT& area) const {
  return RECT{split(dc, static_cast<int>(area.right)), 0, area.right, std::max(top_height_, tiles_.height())};
}

OperatorPanel::WrappedTotals OperatorPanel::wrap_totals(HDC dc, const RECT& box) const {
  WrappedTotals lines;
  RECT button{};
  GetWindowRect(reset_, &button);
  const int button_width = button.right - button.left;
  const int button_height = button.bottom - button.top;
  const int left = box.left + kTotalsMarginX;
  const int right = box.right - kTotalsMarginX;
  // One line of text below another, `width` wide at most; at least `least` high.
  auto place = [&](HFONT font, const std::string& text, int top, int width, int least) {
    const SIZE size = wrapped_size(dc, font, text, std::max(1, width));
    if (size.cx > width) lines.whole = false;
    return RECT{left, top, left + width, top + std::max<int>(size.cy, least)};
  };
  // The shift's line beside Reset, then the counts and the rate; today's at the box's foot.
  lines.shift = place(text_font_, totals_.shift, box.top + kTotalsMarginY,
                      right - left - button_width - kLineGap, std::max(text_line_, button_height));
  lines.counts = place(counts_font_, totals_.counts, lines.shift.bottom + kLineGap, right - left, counts_line_);
  lines.rate = place(text_font_, totals_.rate, lines.counts.bottom + kLineGap, right - left, text_line_);
  const RECT today = place(text_font_, totals_.today, 0, right - left, text_line_);
  lines.today = RECT{left, box.bottom - kTotalsMarginY - (today.bottom - today.top), right,
                     box.bottom - kTotalsMarginY};
  if (lines.rate.bottom > lines.today.top) lines.whole = false;
  return lines;
}

void OperatorPanel::select_at(POINT point) {
  if (tiles_.count() == 0) return;
  const int port = tiles_.port_at(tiles_box(), point);
  if (port >= 0 && on_select_) on_select_(port);
}

void OperatorPanel::place_reset() {
  RECT area{};
  GetClientRect(window_, &area);
  HDC dc = GetDC(window_);
  const int width = text_width(dc, small_font_, "Reset") + 24;
  const int height = line_height(dc, small_font_) + 8;
  ReleaseDC(window_, dc);
  MoveWindow(reset_, area.right - kTotalsMarginX - width, kTotalsMarginY, width, height, TRUE);
}

void OperatorPanel::show_panel(const present::Panel& panel) {
  panel_ = panel;
  InvalidateRect(window_, nullptr, FALSE);
}

void OperatorPanel::set_notice(std::string notice) {
  notice_ = std::move(notice);
  InvalidateRect(window_, nullptr, FALSE);
}

void OperatorPanel::show_totals(const present::TotalsText& totals) {
  if (totals == totals_) return;
  totals_ = totals;
  InvalidateRect(window_, nullptr, FALSE);
}

LRESULT CALLBACK OperatorPanel::proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<OperatorPanel*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);
  switch (message) {
    case WM_PAINT: {
      // Drawn off screen and copied in one go, so that a busy transfer does not flicker.
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd, &paint);
      RECT area{};
      GetClientRect(hwnd, &area);
      HDC memory = CreateCompatibleDC(dc);
      HBITMAP bitmap = CreateCompatibleBitmap(dc, std::max(1L, area.right), std::max(1L, area.bottom));
      HGDIOBJ old = SelectObject(memory, bitmap);
      self->paint(memory, area);
      BitBlt(dc, 0, 0, area.right, area.bottom, memory, 0, 0, SRCCOPY);
      SelectObject(memory, old);
      DeleteObject(bitmap);
      DeleteDC(memory);
      EndPaint(hwnd, &paint);
      return 0;
    }
    case WM_PRINTCLIENT: {
      RECT area{};
      GetClientRect(hwnd, &area);
      self->paint(reinterpret_cast<HDC>(wparam), area);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;  // the paint fills it all
    case WM_SIZE:
      self->place_reset();
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_LBUTTONDOWN:
      self->select_at(POINT{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))});
      return 0;
    case WM_COMMAND:
      if (reinterpret_cast<HWND>(lparam) == self->reset_ && HIWORD(wparam) == BN_CLICKED) {
        if (self->on_reset_) self->on_reset_();
        SetFocus(GetParent(hwnd));
        return 0;
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

void OperatorPanel::paint(HDC dc, const RECT& area) const {
  FillRect(dc, &area, GetSysColorBrush(COLOR_3DFACE));
  SetBkMode(dc, TRANSPARENT);
  const int right = split(dc, static_cast<int>(area.right));
  if (tiles_.count() > 0) {
    tiles_.paint(dc, RECT{0, 0, right, tiles_.height()});
    if (!compact_) paint_wrapped_totals(dc, tiles_totals_box(dc, area));
  } else {
    paint_verdict(dc, RECT{0, 0, right, top_height_});
    paint_totals(dc, RECT{right, 0, area.right, top_height_});
    paint_steps(dc, RECT{0, top_height_ + kStepsGap, area.right, area.bottom - notice_height()});
  }
  if (!notice_.empty()) {
    SetTextColor(dc, colorref(present::state_colour(present::StepState::kFail)));
    draw_line(dc, bold_font_, notice_,
              RECT{kVerdictMarginX, area.bottom - text_line_ - kNoticeGap / 2,
                   area.right - kVerdictMarginX, area.bottom - kNoticeGap / 2});
  }
}

int OperatorPanel::split(HDC dc, int width) const {
  // The word's box takes three quarters of the width, the totals the rest, or what their
  // longest line needs (up to half). The tiles keep the three quarters their type was sized
  // for (the totals wrap beside them); folded tiles take it all.
  if (tiles_.count() > 0) return compact_ ? width : width - width / 4;
  return width - std::min(width / 2, std::max(width / 4, totals_width(dc)));
}

int OperatorPanel::totals_width(HDC dc) const {
  RECT button{};
  GetWindowRect(reset_, &button);
  auto width = [dc](HFONT font, const std::string& text) {
    HGDIOBJ old = SelectObject(dc, font);
    std::wstring shown = wide(text);
    SIZE size{};
    GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()), &size);
    SelectObject(dc, old);
    return static_cast<int>(size.cx);
  };
  const int button_width = static_cast<int>(button.right - button.left);
  const int widest = std::max({width(text_font_, totals_.shift) + kLineGap + button_width,
                               width(counts_font_, totals_.counts), width(text_font_, totals_.rate),
                               width(text_font_, totals_.today)});
  return widest + 2 * kTotalsMarginX + 4;
}

void OperatorPanel::paint_verdict(HDC dc, const RECT& box) const {
  fill(dc, box, colorref(present::background_of(panel_.tone)));
  SetTextColor(dc, colorref(present::text_colour_of(panel_.tone)));
  RECT line{box.left + kVerdictMarginX, box.top + kVerdictMarginY, box.right - kVerdictMarginX, 0};
  line.bottom = line.top + line_line_;
  draw_line(dc, line_font_, present::board_caption(panel_), line);
  line.top = line.bottom + kLineGap;
  line.bottom = line.top + word_line_;
  draw_marked_word(dc, word_font_, panel_.word, colorref(present::text_colour_of(panel_.tone)), line);
  line.top = line.bottom + kLineGap;
  line.bottom = line.top + line_line_;
  draw_line(dc, detail_font_, panel_.detail, line);
}

void OperatorPanel::paint_totals(HDC dc, const RECT& box) const {
  RECT frame = box;
  DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  RECT button{};
  GetWindowRect(reset_, &button);
  const int button_width = button.right - button.left;
  const int button_height = button.bottom - button.top;
  RECT line{box.left + kTotalsMarginX, box.top + kTotalsMarginY, box.right - kTotalsMarginX, 0};
  line.bottom = line.top + std::max(text_line_, button_height);
  RECT head = line;
  head.right = std::max(head.left, head.right - button_width - kLineGap);
  draw_line(dc, text_font_, totals_.shift, head);
  line.top = line.bottom + kLineGap;
  line.bottom = line.top + counts_line_;
  draw_line(dc, counts_font_, totals_.counts, line);
  line.top = line.bottom + kLineGap;
  line.bottom = line.top + text_line_;
  draw_line(dc, text_font_, totals_.rate, line);
  // Today's line at the foot of the box.
  line.bottom = box.bottom - kTotalsMarginY;
  line.top = line.bottom - text_line_;
  draw_line(dc, text_font_, totals_.today, line);
}

void OperatorPanel::paint_wrapped_totals(HDC dc, const RECT& box) const {
  RECT frame = box;
  DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  const WrappedTotals lines = wrap_totals(dc, box);
  // A text that keeps to one line is centred in its height (the shift's, beside Reset).
  auto draw = [&](HFONT font, const std::string& text, const RECT& line) {
    if (text_width(dc, font, text) <= line.right - line.left) {
      draw_line(dc, font, text, line);
    } else {
      draw_wrapped(dc, font, between_figures(text), line);
    }
  };
  draw(text_font_, totals_.shift, lines.shift);
  draw(counts_font_, totals_.counts, lines.counts);
  draw(text_font_, totals_.rate, lines.rate);
  draw(text_font_, totals_.today, lines.today);
}

void OperatorPanel::paint_steps(HDC dc, const RECT& box) const {
  const int row_height = text_line_ + kLineGap;
  int y = box.top + kLineGap;
  for (const present::StepRow& row : panel_.steps) {
    RECT cell{box.left + kVerdictMarginX, y, 0, y + text_line_};
    cell.right = cell.left + name_width_;
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    draw_line(dc, bold_font_, row.name, cell);
    cell.left = cell.right + kColumnGap;
    cell.right = cell.left + state_width_;
    SetTextColor(dc, colorref(present::state_colour(row.state)));
    draw_line(dc, bold_font_, row.word.c_str(), cell);
    cell.left = cell.right + kColumnGap;
    cell.right = box.right - kVerdictMarginX;
    if (row.moving) {
      RECT bar{cell.left, cell.top, std::min(cell.left + bar_width_, cell.right), cell.bottom};
      draw_bar(dc, small_font_, bar, row.percent);
      cell.left = bar.right + 12;
    }
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    if (cell.left < cell.right) draw_line(dc, text_font_, row.moving ? row.progress : row.text, cell);
    y += row_height;
  }
}

}  // namespace skav::windows::gui

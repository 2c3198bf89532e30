#include "frontends/win32/port_tiles.h"

#include <algorithm>

#include "core/station/plan.h"
#include "frontends/win32/paint_tools.h"
#include "present/font_sizes.h"

namespace skav::windows::gui {

namespace {

// Pixels, as the Qt window lays its tiles out.
constexpr int kFrame = 4;  // the selected tile's frame
constexpr int kSpacing = 4;
constexpr int kMarginX = 8;
constexpr int kMarginY = 2;
constexpr int kTileLineGap = 2;
constexpr int kTileColumnGap = 12;
constexpr int kTileBarChars = 10;
// The board line and the reason wrap onto a second line in a narrow tile rather than lose the
// address's last bytes or the reason's end, as the other window does.
constexpr int kWrappedLines = 2;
constexpr COLORREF kAmber = RGB(0xff, 0xb3, 0x00);
constexpr COLORREF kBadgeText = RGB(0x1a, 0x1a, 0x1a);
constexpr COLORREF kRefusedText = RGB(0xb0, 0x00, 0x20);

// The seconds keep their unit on their line ("0.10 s", not "0.10" and "s" below it).
std::string shown_caption(std::string caption) {
  if (caption.ends_with(" s")) caption.replace(caption.size() - 2, 1, "\xC2\xA0");
  return caption;
}

}  // namespace

PortTiles::~PortTiles() { free_fonts(); }

void PortTiles::free_fonts() {
  for (HFONT* font : {&name_font_, &badge_font_, &text_font_, &bold_font_, &word_font_, &line_font_,
                      &detail_font_, &small_font_}) {
    if (*font != nullptr) DeleteObject(*font);
    *font = nullptr;
  }
}

void PortTiles::make(int count) {
  if (!tiles_.empty() || count < 2) return;
  grid_ = present::tile_grid(count);
  std::vector<present::TilePort> ports(static_cast<std::size_t>(count));
  tiles_ = present::tile_texts(ports, std::nullopt);
}

void PortTiles::show(std::vector<Tile> tiles) {
  tiles.resize(tiles_.size());
  tiles_ = std::move(tiles);
}

void PortTiles::fit_to(HDC dc, int word_points, int text_points, int line_points) {
  if (grid_.rows == 0) return;
  if (word_points == word_points_ && text_points == text_points_ && line_points == line_points_ &&
      word_font_ != nullptr)
    return;
  word_points_ = word_points;
  text_points_ = text_points;
  line_points_ = line_points;
  const int word = word_points;
  const int line = line_points;
  free_fonts();
  name_font_ = make_font(dc, text_points + 1, true);
  badge_font_ = make_font(dc, text_points, true);
  text_font_ = make_font(dc, text_points, false);
  bold_font_ = make_font(dc, text_points, true);
  word_font_ = make_font(dc, word, true);
  line_font_ = make_font(dc, line, false);
  detail_font_ = make_font(dc, line, true);
  small_font_ = make_font(dc, std::max(8, text_points - 2), false);
  head_line_ = std::max(line_height(dc, name_font_), line_height(dc, text_font_));
  notes_line_ = line_height(dc, badge_font_) + 2;
  word_line_ = line_height(dc, word_font_);
  line_line_ = line_height(dc, line_font_);
  text_line_ = line_height(dc, text_font_);
  name_width_ = text_width(dc, bold_font_, "environment") + 8;
  state_width_ = text_width(dc, bold_font_, present::kWidestStepWord) + 8;
  bar_width_ = text_width(dc, text_font_, "0") * kTileBarChars;
}

int PortTiles::tile_height() const {
  int height = 2 * (kFrame + 1) + head_line_ + notes_line_ + 2 * kMarginY + kTileLineGap +
               (2 * kWrappedLines * line_line_ + word_line_ + 2 * kTileLineGap + 2 * kMarginY);
  // Every step has its row from the start, so that the log below does not move.
  if (steps_shown())
    height += kTileLineGap + static_cast<int>(station::kStepSlots) * (text_line_ + kTileLineGap);
  return height;
}

int PortTiles::height() const {
  return grid_.rows == 0 ? 0 : grid_.rows * tile_height() + (grid_.rows - 1) * kSpacing;
}

RECT PortTiles::tile_box(const RECT& box, int port) const {
  const int columns = std::max(1, this->columns());
  const int width = (box.right - box.left - kSpacing - (columns - 1) * kSpacing) / columns;
  const int height = tile_height();
  const int row = port / columns;
  const int column = port % columns;
  RECT tile{box.left + column * (width + kSpacing), box.top + row * (height + kSpacing), 0, 0};
  tile.right = tile.left + width;
  tile.bottom = tile.top + height;
  return tile;
}

int PortTiles::port_at(const RECT& box, POINT point) const {
  for (int i = 0; i < count(); ++i) {
    RECT tile = tile_box(box, i);
    if (PtInRect(&tile, point)) return i;
  }
  return -1;
}

void PortTiles::paint(HDC dc, const RECT& box) const {
  for (int i = 0; i < count(); ++i)
    paint_tile(dc, tile_box(box, i), tiles_[static_cast<std::size_t>(i)], i == selected_);
}

RECT PortTiles::verdict_box(const RECT& box) const {
  const int inside = kFrame + 1;
  const int top = box.top + inside + kMarginY + head_line_ + notes_line_ + kMarginY + kTileLineGap;
  return RECT{box.left + inside, top, box.right - inside,
              top + 2 * kWrappedLines * line_line_ + word_line_ + 2 * kTileLineGap + 2 * kMarginY};
}

RECT PortTiles::caption_box(const RECT& box) const {
  const RECT verdict = verdict_box(box);
  const int top = verdict.top + kMarginY;
  return RECT{verdict.left + kMarginX, top, verdict.right - kMarginX, top + kWrappedLines * line_line_};
}

RECT PortTiles::detail_box(const RECT& box) const {
  const RECT caption = caption_box(box);
  const int top = caption.bottom + kTileLineGap + word_line_ + kTileLineGap;
  return RECT{caption.left, top, caption.right, top + kWrappedLines * line_line_};
}

bool PortTiles::texts_whole(HDC dc, const RECT& box, int port) const {
  if (port < 0 || port >= count()) return false;
  const Tile& tile = tiles_[static_cast<std::size_t>(port)];
  const RECT area = tile_box(box, port);
  auto whole = [dc](HFONT font, const std::string& text, const RECT& room) {
    if (text.empty()) return true;
    HGDIOBJ old = SelectObject(dc, font);
    std::wstring shown = wide(text);
    RECT needed = room;
    // Measured as painted, without the ellipsis: a word wider than the room widens the result.
    DrawTextW(dc, shown.c_str(), static_cast<int>(shown.size()), &needed,
              DT_LEFT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX | DT_CALCRECT);
    SelectObject(dc, old);
    return needed.right <= room.right && needed.bottom <= room.bottom;
  };
  return whole(line_font_, shown_caption(tile.caption), caption_box(area)) &&
         whole(detail_font_, tile.panel.detail, detail_box(area));
}

void PortTiles::paint_tile(HDC dc, const RECT& box, const Tile& tile, bool selected) const {
  // The selected tile in a thick frame of the highlight colour; the others in a thin grey line.
  const int frame = selected ? kFrame : 1;
  HBRUSH brush = GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_BTNSHADOW);
  for (int i = 0; i < frame; ++i) {
    RECT edge{box.left + i, box.top + i, box.right - i, box.bottom - i};
    FrameRect(dc, &edge, brush);
  }
  const int inside = kFrame + 1;
  RECT head{box.left + inside + kMarginX, box.top + inside + kMarginY,
            box.right - inside - kMarginX, 0};
  head.bottom = head.top + head_line_;
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  const int name_width = std::min(text_width(dc, name_font_, tile.name),
                                  static_cast<int>(head.right - head.left) / 2);
  RECT name = head;
  name.right = name.left + name_width;
  draw_line(dc, name_font_, tile.name, name);
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  if (name.right + 6 < head.right)
    // Unclipped: the last glyph may reach a pixel or two past its advance, into the margin,
    // and a clipped "failed" reads "failec".
    draw_line(dc, text_font_, tile.counts, RECT{name.right + 6, head.top, head.right, head.bottom},
              DT_RIGHT | DT_NOCLIP);

  // The badge and the notes on a line of their own, so that they never cover the counts.
  RECT notes{head.left, head.bottom, head.right, head.bottom + notes_line_};
  int left = notes.left;
  if (tile.asks) {
    RECT badge{left, notes.top + 1, left + text_width(dc, badge_font_, present::kAsksForAddress) + 12,
               notes.bottom - 1};
    badge.right = std::min(badge.right, notes.right);
    fill(dc, badge, kAmber);
    SetTextColor(dc, kBadgeText);
    draw_line(dc, badge_font_, present::kAsksForAddress, badge, DT_CENTER);
    left = badge.right + 6;
  }
  if (!tile.typing.empty() && left < notes.right) {
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    RECT typing{left, notes.top, notes.right, notes.bottom};
    draw_line(dc, text_font_, tile.typing, typing);
    left = std::min<int>(notes.right, left + text_width(dc, text_font_, tile.typing) + 6);
  }
  if (!tile.refused.empty() && left < notes.right) {
    SetTextColor(dc, kRefusedText);
    draw_line(dc, badge_font_, tile.refused, RECT{left, notes.top, notes.right, notes.bottom});
  }

  // The word's box across the tile.
  RECT verdict = verdict_box(box);
  fill(dc, verdict, colorref(present::background_of(tile.panel.tone)));
  SetTextColor(dc, colorref(present::text_colour_of(tile.panel.tone)));
  draw_wrapped(dc, line_font_, shown_caption(tile.caption), caption_box(box));
  RECT line = caption_box(box);
  line.top = line.bottom + kTileLineGap;
  line.bottom = line.top + word_line_;
  draw_marked_word(dc, word_font_, tile.panel.word, colorref(present::text_colour_of(tile.panel.tone)), line);
  draw_wrapped(dc, detail_font_, tile.panel.detail, detail_box(box));
  if (!steps_shown()) return;

  int y = verdict.bottom + kTileLineGap;
  for (const present::StepRow& row : tile.panel.steps) {
    RECT cell{verdict.left + kMarginX, y, 0, y + text_line_};
    cell.right = std::min(cell.left + name_width_, verdict.right);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    draw_line(dc, bold_font_, row.name, cell);
    cell.left = cell.right + kTileColumnGap;
    cell.right = std::min(cell.left + state_width_, verdict.right);
    SetTextColor(dc, colorref(present::state_colour(row.state)));
    if (cell.left < cell.right) draw_line(dc, bold_font_, row.word.c_str(), cell);
    cell.left = cell.right + kTileColumnGap;
    cell.right = verdict.right - kMarginX;
    if (row.moving && cell.left < cell.right) {
      RECT bar{cell.left, cell.top, std::min(cell.left + bar_width_, cell.right), cell.bottom};
      draw_bar(dc, small_font_, bar, row.percent);
      cell.left = bar.right + 8;
    }
    // The failure line above already gives a failed step's reason, whole.
    const bool told = row.state == present::StepState::kSkipped;
    const std::string& text = row.moving ? row.progress : told ? row.text : std::string();
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    if (cell.left < cell.right && !text.empty()) draw_line(dc, text_font_, text, cell);
    y += text_line_ + kTileLineGap;
  }
}

}  // namespace skav::windows::gui

// The Win32 window's views under Wine (scripts/test-windows.sh gives the display): the operator
// panel's fold, the log's zoom, the failure sound, the per-user choices they are kept in,
// several ports with their tiles, and the Interface dialog's choice of ports.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "core/mac_digits.h"
#include "core/station/station_events.h"
#include "frontends/win32/dialogs.h"
#include "frontends/win32/interface_ports.h"
#include "frontends/win32/main_window.h"
#include "frontends/win32/operator_panel.h"
#include "frontends/win32/paint_tools.h"
#include "frontends/win32/resource.h"
#include "frontends/win32/window_choices.h"
#include "present/font_sizes.h"
#include "present/interface_choice.h"
#include "present/panel.h"
#include "window_support.h"
#include "fake_line.h"

namespace skav::windows::gui {
namespace {

using Snapshot = std::shared_ptr<station::StationSnapshot>;

Snapshot started(const std::string& status_text = {}) {
  auto s = std::make_shared<station::StationSnapshot>();
  s->start_ups = 1;
  s->adapter_open = true;
  s->adapter = "eth1";
  s->status_text = status_text;
  return s;
}

Snapshot with_board(bool finished, station::Verdict overall) {
  auto s = started();
  station::BoardView board;
  board.number = 1;
  board.finished = finished;
  board.overall = overall;
  s->board = board;
  s->run_status = finished ? station::RunStatus::kNoRun : station::RunStatus::kRunning;
  return s;
}

// A board whose kernel is sent: 24 of 48 bytes.
Snapshot sending_kernel() {
  auto s = with_board(false, station::Verdict::kSkipped);
  station::StepView& kernel = s->board->steps[1];
  kernel.slot = station::StepSlot::kKernel;
  kernel.used = true;
  kernel.state = station::StepView::State::kRunning;
  kernel.done = 24;
  kernel.total = 48;
  s->board->planned = true;
  return s;
}

station::BoardRecord record_of(station::Verdict overall) {
  station::BoardRecord record;
  record.time = "2026-12-09T07:00:00+00:00";
  record.overall = overall;
  return record;
}

// Visible in its parent (the frame itself stays hidden in these tests).
bool has_visible_style(HWND window) { return (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) != 0; }

RECT place_in(HWND window, HWND parent) {
  RECT r{};
  GetWindowRect(window, &r);
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

bool checked(HWND frame, UINT item) {
  HMENU view = GetSubMenu(GetMenu(frame), 1);
  SendMessageA(frame, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(view), 1);
  return (GetMenuState(view, item, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

bool grayed(HWND frame, UINT item) {
  HMENU view = GetSubMenu(GetMenu(frame), 1);
  SendMessageA(frame, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(view), 1);
  return (GetMenuState(view, item, MF_BYCOMMAND) & MF_GRAYED) != 0;
}

void command(const MainWindow& window, UINT id) { SendMessageA(window.handle(), WM_COMMAND, id, 0); }

// The log font's height in pixels (as large as the zoom makes it).
int font_height(HWND log) {
  auto font = reinterpret_cast<HFONT>(SendMessageA(log, WM_GETFONT, 0, 0));
  LOGFONTA description{};
  if (font == nullptr || GetObjectA(font, sizeof description, &description) == 0) return 0;
  return description.lfHeight < 0 ? -description.lfHeight : description.lfHeight;
}

class ViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!have_display()) return;
    ASSERT_TRUE(window_.create(GetModuleHandleA(nullptr)));
    status_ = GetDlgItem(window_.handle(), ID_STATUS_BAR);
    panel_ = panel_of(window_.handle());
    ASSERT_NE(panel_, nullptr);
  }
  // A second window on the same choices: what the next start would show.
  std::unique_ptr<MainWindow> next_start() {
    auto next = std::make_unique<MainWindow>(WindowChoices(kChoicesKey));
    EXPECT_TRUE(next->create(GetModuleHandleA(nullptr)));
    return next;
  }
  void show(int port, const Snapshot& snapshot) {
    window_.events(port).on_snapshot(snapshot);
    pump();
  }

  FreshChoices fresh_;
  MainWindow window_{WindowChoices(kChoicesKey)};
  HWND status_ = nullptr;
  HWND panel_ = nullptr;
};

// --- The operator panel's fold ----------------------------------------------------------

// Folded, the panel goes and the log takes its place; the transfer's progress moves into the
// status bar (unfolded, the panel's steps show it). The next start comes up folded.
TEST_F(ViewTest, F9FoldsThePanelAwayAndTheStatusBarShowsTheTransfer) {
  SKAV_REQUIRE_DISPLAY();
  HWND log = window_.log_window(0);
  show(0, sending_kernel());
  EXPECT_TRUE(checked(window_.handle(), ID_VIEW_PANEL));
  EXPECT_TRUE(has_visible_style(panel_));
  EXPECT_EQ(place_in(log, window_.handle()).top, place_in(panel_, window_.handle()).bottom);
  EXPECT_EQ(SendMessageA(status_, SB_GETPARTS, 0, 0), 4);  // no progress pane

  command(window_, ID_VIEW_PANEL);
  EXPECT_FALSE(window_.panel_shown());
  EXPECT_FALSE(checked(window_.handle(), ID_VIEW_PANEL));
  EXPECT_FALSE(has_visible_style(panel_));
  EXPECT_EQ(place_in(log, window_.handle()).top, 0);
  // The verdict's part, then the progress's.
  EXPECT_EQ(SendMessageA(status_, SB_GETPARTS, 0, 0), 6);
  EXPECT_EQ(window_.verdict_part(), std::optional<int>(1));
  EXPECT_EQ(pane_text(status_, 2), "kernel 50%");
  EXPECT_FALSE(next_start()->panel_shown());

  command(window_, ID_VIEW_PANEL);
  EXPECT_TRUE(window_.panel_shown());
  EXPECT_TRUE(has_visible_style(panel_));
  EXPECT_EQ(SendMessageA(status_, SB_GETPARTS, 0, 0), 4);
  EXPECT_EQ(window_.verdict_part(), std::nullopt);
  EXPECT_EQ(place_in(log, window_.handle()).top, place_in(panel_, window_.handle()).bottom);
  EXPECT_TRUE(next_start()->panel_shown());
}

// The pixels of `box` in `dc` that have `colour`, row by row.
std::vector<bool> pixels_in(HDC dc, const RECT& box, COLORREF colour) {
  std::vector<bool> mask;
  for (int y = box.top; y < box.bottom; ++y)
    for (int x = box.left; x < box.right; ++x) mask.push_back(GetPixel(dc, x, y) == colour);
  return mask;
}

// Folded with one port, the verdict keeps a part of its own in the status bar, drawn by the
// window: the word's background, its shape and the word; the first pane and the caption keep
// their texts.
TEST_F(ViewTest, FoldedTheVerdictKeepsAStatusPaneWithItsShapeAndColour) {
  SKAV_REQUIRE_DISPLAY();
  auto pass = with_board(true, station::Verdict::kPass);
  pass->status_text = "Ethernet -> eth1";
  show(0, pass);
  const std::string caption = text_of(window_.handle());
  command(window_, ID_VIEW_PANEL);
  ASSERT_EQ(window_.verdict_part(), std::optional<int>(1));
  EXPECT_EQ(SendMessageA(status_, SB_GETPARTS, 0, 0), 5);
  EXPECT_EQ(HIWORD(SendMessageA(status_, SB_GETTEXTLENGTHA, 1, 0)) & SBT_OWNERDRAW, SBT_OWNERDRAW);
  EXPECT_EQ(pane_text(status_, 0), "Ethernet -> eth1");
  EXPECT_EQ(text_of(window_.handle()), caption);

  RECT part{};
  ASSERT_TRUE(SendMessageA(status_, SB_GETRECT, 1, reinterpret_cast<LPARAM>(&part)));
  ASSERT_GT(part.right - part.left, part.bottom - part.top);
  HDC screen = GetDC(status_);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, part.right, part.bottom);
  ReleaseDC(status_, screen);
  HGDIOBJ old = SelectObject(dc, bitmap);
  // What the status bar asks of its parent for the part: the window draws it into `dc`.
  auto draw = [&] {
    DRAWITEMSTRUCT item{};
    item.CtlType = 0;
    item.CtlID = ID_STATUS_BAR;
    item.itemID = 1;
    item.hwndItem = status_;
    item.hDC = dc;
    item.rcItem = part;
    return SendMessageA(window_.handle(), WM_DRAWITEM, ID_STATUS_BAR, reinterpret_cast<LPARAM>(&item));
  };
  // The shape's side of the part, short of where the word begins.
  const RECT mark{part.left + 4, part.top, part.left + 4 + (part.bottom - part.top) * 3 / 4, part.bottom};
  const std::vector<std::pair<Snapshot, present::Tone>> cases = {
      {pass, present::Tone::kGood}, {with_board(true, station::Verdict::kFail), present::Tone::kBad}};
  std::vector<std::vector<bool>> shapes;
  for (const auto& [snapshot, tone] : cases) {
    show(0, snapshot);
    EXPECT_EQ(draw(), TRUE);
    EXPECT_EQ(GetPixel(dc, part.right - 2, (part.top + part.bottom) / 2),
              colorref(present::background_of(tone)));
    shapes.push_back(pixels_in(dc, mark, colorref(present::text_colour_of(tone))));
    EXPECT_NE(std::count(shapes.back().begin(), shapes.back().end(), true), 0);
  }
  // A tick is not a cross.
  EXPECT_NE(shapes[0], shapes[1]);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
}

// --- The log's zoom -----------------------------------------------------------------------

// Each step changes every port's log font by a point, up to the limits, where the menu item
// greys; the next start keeps the size.
TEST_F(ViewTest, ZoomSizesEveryLogWithinTheLimitsAndTheNextStartKeepsIt) {
  SKAV_REQUIRE_DISPLAY();
  window_.set_port_count(2);
  EXPECT_EQ(window_.log_points(), present::kLogPoints);
  // Command, times, points after, whether Zoom In and Zoom Out are greyed then.
  const std::vector<std::tuple<UINT, int, int, bool, bool>> steps = {
      {ID_VIEW_ZOOM_IN, 1, present::kLogPoints + 1, false, false},
      {ID_VIEW_ZOOM_OUT, 2, present::kLogPoints - 1, false, false},
      {ID_VIEW_ZOOM_OUT, 100, present::kSmallestLogPoints, false, true},
      {ID_VIEW_ZOOM_IN, 100, present::kLargestLogPoints, true, false},
      {ID_VIEW_ZOOM_OUT, 30, present::kLargestLogPoints - 30, false, false},
  };
  int before = font_height(window_.log_window(0));
  for (const auto& [id, times, points, in_greyed, out_greyed] : steps) {
    const int from = window_.log_points();
    for (int i = 0; i < times; ++i) command(window_, id);
    EXPECT_EQ(window_.log_points(), points) << id << " x" << times;
    const int height = font_height(window_.log_window(0));
    EXPECT_EQ(points > from, height > before) << points;
    EXPECT_EQ(font_height(window_.log_window(1)), height) << "every port's log";
    EXPECT_EQ(grayed(window_.handle(), ID_VIEW_ZOOM_IN), in_greyed) << points;
    EXPECT_EQ(grayed(window_.handle(), ID_VIEW_ZOOM_OUT), out_greyed) << points;
    before = height;
  }
  auto next = next_start();
  EXPECT_EQ(next->log_points(), present::kLargestLogPoints - 30);
  EXPECT_EQ(font_height(next->log_window(0)), before);
}

// --- The failure sound --------------------------------------------------------------------

// The sound calls the operator for the boards whose word calls them (FAIL, TIMEOUT), once per
// board, and only while View, Sound is on.
TEST_F(ViewTest, TheSoundCallsForFailedAndTimedOutBoardsWhileItIsOn) {
  SKAV_REQUIRE_DISPLAY();
  int calls = 0;
  window_.set_alarm([&calls] { ++calls; });
  EXPECT_TRUE(checked(window_.handle(), ID_VIEW_SOUND));
  const std::vector<std::tuple<bool, station::Verdict, int>> cases = {
      {true, station::Verdict::kPass, 0},    {true, station::Verdict::kFail, 1},
      {true, station::Verdict::kTimeout, 1}, {true, station::Verdict::kSkipped, 1},
      {false, station::Verdict::kFail, 0},   {false, station::Verdict::kTimeout, 0},
  };
  for (const auto& [sound, overall, expected] : cases) {
    if (window_.sound_on() != sound) command(window_, ID_VIEW_SOUND);
    EXPECT_EQ(checked(window_.handle(), ID_VIEW_SOUND), sound);
    calls = 0;
    window_.events().on_board_finished(record_of(overall));
    pump();
    EXPECT_EQ(calls, expected) << "sound " << sound << ", verdict " << static_cast<int>(overall);
  }
  EXPECT_FALSE(next_start()->sound_on());
}

// --- The per-user choices -----------------------------------------------------------------

TEST(WindowChoices, KeepEachChoiceAndGiveTheFallbackForOneNeverStored) {
  WindowChoices choices(kChoicesKey);
  choices.forget();
  EXPECT_EQ(choices.log_points(), present::kLogPoints);
  EXPECT_TRUE(choices.sound());
  EXPECT_TRUE(choices.panel_shown());
  EXPECT_TRUE(choices.ports().empty());
  // Points stored, points read: outside the limits they are clamped.
  const std::vector<std::pair<int, int>> points = {{7, 7}, {48, 48}, {2, 6}, {99, 48}};
  for (const auto& [stored, read] : points) {
    choices.set_log_points(stored);
    EXPECT_EQ(choices.log_points(), read) << stored;
  }
  choices.set_sound(false);
  choices.set_panel_shown(false);
  EXPECT_FALSE(choices.sound());
  EXPECT_FALSE(choices.panel_shown());
  // Ports stored, ports read: fewer than two are one port on NetIF, and forget the list.
  using Names = std::vector<std::string>;
  const std::vector<std::pair<Names, Names>> ports = {
      {{"eth1", "eth2"}, {"eth1", "eth2"}},
      {{"\\Device\\NPF_{A}", "\\Device\\NPF_{B}", "x y"}, {"\\Device\\NPF_{A}", "\\Device\\NPF_{B}", "x y"}},
      {{"eth1"}, {}},
      {{"以太网 Ω", "eth2"}, {"以太网 Ω", "eth2"}},  // outside every ANSI code page
      {{"eth1", "eth2"}, {"eth1", "eth2"}},
      {{}, {}},
  };
  for (const auto& [stored, read] : ports) {
    choices.set_ports(stored);
    EXPECT_EQ(choices.ports(), read) << stored.size();
  }
  choices.forget();
  EXPECT_EQ(choices.log_points(), present::kLogPoints);
  EXPECT_TRUE(choices.sound());
}

// --- Several ports ------------------------------------------------------------------------

// Each port has its own log and tile; the selected port's log shows, and the status bar is
// its own. A click on a tile selects its port.
TEST_F(ViewTest, SeveralPortsGetATileAndALogEachAndAClickSelectsOne) {
  SKAV_REQUIRE_DISPLAY();
  window_.set_port_count(3);
  ASSERT_EQ(window_.port_count(), 3);
  const PortTiles& tiles = window_.panel().tiles();
  ASSERT_EQ(tiles.count(), 3);
  EXPECT_EQ(tiles.tile(0).name, "Port 1");
  EXPECT_EQ(tiles.tile(2).name, "Port 3");
  window_.set_port_name(1, "eth2");
  EXPECT_EQ(tiles.tile(1).name, "eth2");

  show(0, started("port one"));
  show(1, with_board(true, station::Verdict::kFail));
  show(2, started("port three"));
  window_.log(1).append("second\r\n");
  window_.log(2).append("third\r\n");
  pump();
  EXPECT_EQ(tiles.tile(0).panel.word, present::Word::kSearching);
  EXPECT_EQ(tiles.tile(1).panel.word, present::Word::kFail);
  EXPECT_EQ(text_of(window_.log_window(0)), "");
  EXPECT_EQ(text_of(window_.log_window(1)), "second\r\n");
  EXPECT_EQ(text_of(window_.log_window(2)), "third\r\n");
  EXPECT_EQ(pane_text(status_, 0), "port one");

  // A click in the middle of each tile, as the operator would.
  const int order[] = {2, 1, 0};
  for (int port : order) {
    const RECT tile = tiles.tile_box(window_.panel().tiles_box(), port);
    SendMessageA(panel_, WM_LBUTTONDOWN, MK_LBUTTON,
                 MAKELPARAM((tile.left + tile.right) / 2, (tile.top + tile.bottom) / 2));
    pump();
    EXPECT_EQ(window_.selected_port(), port);
    EXPECT_EQ(tiles.selected(), port);
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(has_visible_style(window_.log_window(i)), i == port) << port << "/" << i;
  }
  window_.select_port(2);
  EXPECT_EQ(pane_text(status_, 0), "port three");
  window_.select_port(1);
  EXPECT_EQ(pane_text(status_, 0), "Ready");  // that port has set no Status Pane text yet
}

// The smallest screens for four and for eight ports: every tile shows its board's address and
// its reason whole, wrapped where the tile is narrow, never cut, and the totals of a long shift
// with re-tests and interrupted boards show whole beside them.
TEST_F(ViewTest, TilesShowTheAddressAndTheReasonWholeOnTheSmallestScreens) {
  SKAV_REQUIRE_DISPLAY();
  struct Screen {
    int width, height, ports;
  };
  for (const Screen& screen : {Screen{1366, 768, 4}, Screen{1920, 1080, 8}}) {
    SCOPED_TRACE(std::to_string(screen.width) + "x" + std::to_string(screen.height));
    std::unique_ptr<MainWindow> window = next_start();
    window->set_port_count(screen.ports);
    SetWindowPos(window->handle(), nullptr, 0, 0, screen.width, screen.height, SWP_NOZORDER | SWP_NOACTIVATE);
    // Wine keeps a window within its display: on a smaller one the tiles would be measured at
    // the display's size, not the screen's.
    RECT outer{};
    GetWindowRect(window->handle(), &outer);
    ASSERT_EQ(outer.right - outer.left, screen.width) << "the display is narrower than the screen";
    ASSERT_EQ(outer.bottom - outer.top, screen.height) << "the display is lower than the screen";
    for (int port = 0; port < screen.ports; ++port) {
      // Addresses that share no first byte, so that none is shortened: the widest board line.
      Snapshot s = with_board(true, port % 2 == 0 ? station::Verdict::kFail : station::Verdict::kTimeout);
      s->board->number = 128 + port;
      s->board->address_written = true;
      ASSERT_TRUE(MacDigits::parse("0" + std::to_string(port) + "3456789ABC", s->board->address));
      s->board->seconds = 31.2;
      s->board->failure = port % 2 == 0 ? "filesystem: read-back differs" : "kernel: no answer after 30 s";
      window->events(port).on_snapshot(s);
    }
    // A thousand boards: 40 failed, 20 of them passed a re-test, 10 interrupted.
    window->set_alarm([] {});
    FakeLine fake(*window, static_cast<std::size_t>(screen.ports));
    char address[18];
    for (int i = 0; i < 1020; ++i) {
      const int board = i < 1000 ? i : (i - 1000) / 2 * 100 + (i - 1000) % 2;  // failed at first
      std::snprintf(address, sizeof address, "02:00:00:00:%02X:%02X", board / 256, board % 256);
      station::BoardRecord record = record_of(i >= 1000                ? station::Verdict::kPass
                                              : i % 100 < 4            ? station::Verdict::kFail
                                              : i % 100 == 4           ? station::Verdict::kAdapterLost
                                                                       : station::Verdict::kPass);
      record.written_mac = address;
      record.attempt = i < 1000 ? 1 : 2;
      fake.finish(static_cast<std::size_t>(i % screen.ports), record);
    }
    pump();
    EXPECT_EQ(window->panel().totals().counts, "1000 boards   970 passed   20 failed   10 interrupted   1020 runs");
    const PortTiles& tiles = window->panel().tiles();
    ASSERT_EQ(tiles.count(), screen.ports);
    HWND panel = panel_of(window->handle());
    HDC dc = GetDC(panel);
    for (int port = 0; port < screen.ports; ++port) {
      EXPECT_NE(tiles.tile(port).caption.find(":78:9A:BC, 31.2 s"), std::string::npos) << tiles.tile(port).caption;
      EXPECT_TRUE(tiles.texts_whole(dc, window->panel().tiles_box(), port))
          << port << ": " << tiles.tile(port).caption << " / " << tiles.tile(port).panel.detail;
    }
    const present::TotalsText& totals = window->panel().totals();
    EXPECT_TRUE(window->panel().totals_whole(dc)) << totals.counts << " / " << totals.rate << " / " << totals.today;
    ReleaseDC(panel, dc);
  }
}

// Each tile shows the line's count of its own port's boards; the shift's totals are the line's
// over all ports, where a board re-tested on another port is one board.
TEST_F(ViewTest, EachTileShowsItsPortsCountAndTheTotalsTheLines) {
  SKAV_REQUIRE_DISPLAY();
  window_.set_port_count(2);
  FakeLine fake(window_, 2);
  // Port, verdict, written address, attempt.
  const std::vector<std::tuple<std::size_t, station::Verdict, const char*, int>> boards = {
      {0, station::Verdict::kPass, "02:00:00:0A:00:01", 1}, {1, station::Verdict::kFail, "02:00:00:0A:00:02", 1},
      {1, station::Verdict::kPass, "02:00:00:0A:00:03", 1}, {1, station::Verdict::kTimeout, "02:00:00:0A:00:04", 1},
      {0, station::Verdict::kPass, "02:00:00:0A:00:04", 2}};
  for (const auto& [port, overall, address, attempt] : boards) {
    station::BoardRecord record = record_of(overall);
    record.written_mac = address;
    record.attempt = attempt;
    fake.finish(port, record);
  }
  pump();
  const PortTiles& tiles = window_.panel().tiles();
  EXPECT_EQ(tiles.tile(0).counts, "2 passed, 0 failed");
  EXPECT_EQ(tiles.tile(1).counts, "1 passed, 2 failed");
  EXPECT_EQ(window_.panel().totals().counts, "4 boards   3 passed   1 failed   5 runs");
  window_.set_confirm([](const std::string&) { return true; });
  command(window_, ID_VIEW_RESET_TOTALS);
  pump();
  ASSERT_EQ(fake.posted.size(), 1u);
  EXPECT_TRUE(std::holds_alternative<line::ResetShift>(fake.posted.front().second));
  EXPECT_EQ(tiles.tile(1).counts, "0 passed, 0 failed");
  EXPECT_EQ(window_.panel().totals().counts, "0 boards   0 passed   0 failed");
}

// A port whose MAC prompt opens is shown, so that the scanner types into it, and its tile wears
// the badge; when it closes, the port that has asked longest is shown. Which port that is, the
// line says.
TEST_F(ViewTest, APortThatAsksForAnAddressIsShownAndWearsTheBadge) {
  SKAV_REQUIRE_DISPLAY();
  window_.set_port_count(3);
  FakeLine fake(window_, 3);
  const PortTiles& tiles = window_.panel().tiles();
  auto asking = [](bool asks) {
    auto s = started();
    s->entry_pending = asks;
    return s;
  };
  // Port, whether it asks, the port shown after.
  const std::vector<std::tuple<int, bool, int>> steps = {
      {0, false, 0}, {2, true, 2}, {1, true, 2}, {2, false, 1}, {1, false, 1}, {0, true, 0}};
  for (const auto& [port, asks, shown] : steps) {
    fake.show(static_cast<std::size_t>(port), asking(asks));
    pump();
    EXPECT_EQ(tiles.tile(port).asks, asks) << port;
    EXPECT_EQ(window_.selected_port(), shown) << port << " asks " << asks;
    EXPECT_TRUE(has_visible_style(window_.log_window(shown)));
  }
}

// The operator's typing goes to the port shown, as the line's keys; which port is shown while
// prompts are open, the line decides: a port's own snapshot moves nothing.
TEST_F(ViewTest, TypingGoesAsKeysToThePortTheLineChose) {
  SKAV_REQUIRE_DISPLAY();
  window_.set_port_count(2);
  FakeLine fake(window_, 2);
  pump();
  Snapshot asking = started();
  asking->entry_pending = true;
  show(1, asking);
  EXPECT_EQ(window_.selected_port(), 0);
  fake.show(1, asking);
  pump();
  EXPECT_EQ(window_.selected_port(), 1);
  // A scanner's characters, once per repeat, then Enter; a character beyond ASCII is not sent.
  SendMessageW(window_.log_window(1), WM_CHAR, 'a', 2);
  SendMessageW(window_.log_window(1), WM_CHAR, 0x3A9, 1);
  SendMessageW(window_.log_window(1), WM_CHAR, 13, 1);
  std::vector<std::pair<std::size_t, char>> keys;
  for (const auto& [port, posted] : fake.posted)
    if (const auto* key = std::get_if<line::Key>(&posted)) keys.emplace_back(port, key->c);
  const std::vector<std::pair<std::size_t, char>> expected = {{1, 'a'}, {1, 'a'}, {1, '\r'}};
  EXPECT_EQ(keys, expected);
}

// Ctrl and a port's digit select it; the port that takes the typing says so on its tile, and a
// refused entry shows there and calls the operator once.
TEST_F(ViewTest, CtrlDigitSelectsAPortWhoseTileTellsTypingAndRefusals) {
  SKAV_REQUIRE_DISPLAY();
  window_.set_port_count(3);
  window_.set_port_name(1, "sim1");
  const PortTiles& tiles = window_.panel().tiles();
  // Command, the port selected after.
  for (const auto& [command_id, selected] : {std::pair{ID_SELECT_PORT1 + 2, 2}, std::pair{ID_SELECT_PORT1 + 3, 2},
                                             std::pair{ID_SELECT_PORT1 + 1, 1}}) {
    command(window_, static_cast<UINT>(command_id));
    EXPECT_EQ(window_.selected_port(), selected) << command_id;
    EXPECT_EQ(tiles.selected(), selected) << command_id;
  }
  int calls = 0;
  window_.set_alarm([&calls] { ++calls; });
  auto refused = [](const char* why, int refusals) {
    auto s = started();
    s->entry_pending = true;
    s->entry_refused = why;
    s->entry_refusals = refusals;
    return s;
  };
  show(1, refused("", 0));
  EXPECT_EQ(tiles.tile(1).typing, "scanning for sim1");
  EXPECT_EQ(tiles.tile(1).refused, "");
  show(1, refused("11 digits", 1));
  EXPECT_EQ(tiles.tile(1).refused, "refused: 11 digits");
  EXPECT_EQ(calls, 1);
  show(1, refused("", 1));
  EXPECT_EQ(tiles.tile(1).refused, "");
  EXPECT_EQ(calls, 1) << "the same refusal calls once";
}

// Folded, the tiles stay (a port can still be chosen) but lose their steps, and the totals and
// Reset go: the panel gets lower.
TEST_F(ViewTest, FoldedTilesKeepTheirWordAndLoseTheStepsAndTheTotals) {
  SKAV_REQUIRE_DISPLAY();
  window_.set_port_count(2);
  const OperatorPanel& panel = window_.panel();
  const int unfolded = place_in(panel_, window_.handle()).bottom;
  EXPECT_TRUE(panel.tiles().steps_shown());
  EXPECT_TRUE(has_visible_style(panel.reset_button()));
  command(window_, ID_VIEW_PANEL);
  EXPECT_TRUE(has_visible_style(panel_));
  EXPECT_TRUE(panel.compact());
  EXPECT_FALSE(panel.tiles().steps_shown());
  EXPECT_FALSE(has_visible_style(panel.reset_button()));
  const int folded = place_in(panel_, window_.handle()).bottom;
  EXPECT_LT(folded, unfolded);
  EXPECT_EQ(place_in(window_.log_window(0), window_.handle()).top, folded);
  command(window_, ID_VIEW_PANEL);
  EXPECT_EQ(place_in(panel_, window_.handle()).bottom, unfolded);
  EXPECT_TRUE(has_visible_style(panel.reset_button()));
}

// The tiles follow the model's grid: steps in up to two rows.
TEST(PortTiles, FollowTheGridAndShowStepsInUpToTwoRowsUnfolded) {
  // Ports, steps shown unfolded.
  const std::vector<std::pair<int, bool>> cases = {{2, true}, {5, true}, {8, true}, {9, false}, {16, false}};
  for (const auto& [ports, steps] : cases) {
    PortTiles tiles;
    tiles.make(ports);
    EXPECT_EQ(tiles.count(), ports);
    EXPECT_EQ(tiles.rows(), present::tile_grid(ports).rows) << ports;
    EXPECT_EQ(tiles.columns(), present::tile_grid(ports).columns) << ports;
    EXPECT_EQ(tiles.steps_shown(), steps) << ports;
    tiles.set_folded(true);
    EXPECT_FALSE(tiles.steps_shown()) << ports;
  }
  PortTiles one;
  one.make(1);
  EXPECT_EQ(one.count(), 0);  // one port has the board's panel, no tile
}

// --- The Interface dialog's choice of ports -----------------------------------------------

struct PortsScript {
  bool section = false;       // the section was made
  bool started_on = true;     // its check box at the start
  bool adapters_enabled_at_start = false;
  bool refused_one = false;   // OK with one adapter ticked was refused
  int followed = -1;          // the adapter list's selection once two were ticked
  bool adapters_enabled_then = true;
  int step = 0;
  std::vector<int> applied;
};
PortsScript* g_ports = nullptr;

void CALLBACK drive_ports(HWND, UINT, UINT_PTR, DWORD) {
  PortsScript& s = *g_ports;
  HWND dialog = FindWindowA(nullptr, "Network Interface");
  if (dialog == nullptr) return;
  HWND box = FindWindowA(nullptr, "SKAV");
  HWND list = GetDlgItem(dialog, IDC_PORT_LIST);
  HWND adapters = GetDlgItem(dialog, IDC_ADAPTERS);
  switch (s.step) {
    case 0:
      s.section = list != nullptr && text_of(GetDlgItem(dialog, IDC_SEVERAL_PORTS)) == kSeveralPorts &&
                  text_of(GetDlgItem(dialog, IDC_PORTS_NOTE)) == kPortsNote;
      if (list == nullptr) {
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        s.step = 99;
        return;
      }
      s.started_on = IsDlgButtonChecked(dialog, IDC_SEVERAL_PORTS) == BST_CHECKED;
      s.adapters_enabled_at_start = IsWindowEnabled(adapters) != 0;
      CheckDlgButton(dialog, IDC_SEVERAL_PORTS, BST_CHECKED);
      SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SEVERAL_PORTS, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_SEVERAL_PORTS)));
      ListView_SetCheckState(list, 1, TRUE);
      PostMessageA(dialog, WM_COMMAND, IDOK, 0);
      ++s.step;
      break;
    case 1:
      if (box == nullptr) return;
      s.refused_one = FindWindowExA(box, nullptr, "Static", present::kTickTwoPorts) != nullptr;
      PostMessageA(box, WM_COMMAND, IDOK, 0);
      ++s.step;
      break;
    case 2:
      if (box != nullptr) return;
      ListView_SetCheckState(list, 2, TRUE);
      pump();
      s.followed = static_cast<int>(SendMessageA(adapters, CB_GETCURSEL, 0, 0));
      s.adapters_enabled_then = IsWindowEnabled(adapters) != 0;
      PostMessageA(dialog, WM_COMMAND, IDOK, 0);
      ++s.step;
      break;
    default:
      break;
  }
}

// Offered, the section ticks adapters for a station with a port on each: on, the adapter list
// follows the first ticked one and OK needs two ticked; the choice goes with the apply.
TEST(InterfaceDialog, SeveralPortsNeedTwoTickedAndTheListFollowsTheFirst) {
  SKAV_REQUIRE_DISPLAY();
  pump();
  PortsScript script;
  g_ports = &script;
  InterfaceChoice choice;
  choice.adapters = {"first adapter", "second adapter", "third adapter"};
  choice.selected = 0;
  choice.ports_offered = true;
  choice.ticked = {1};  // one alone: the section starts off
  choice.apply = [&script, &choice](int index, const MacDigits::Digits&) {
    script.applied = choice.ticked;
    script.applied.insert(script.applied.begin(), index);
    return choice.several;
  };
  UINT_PTR timer = SetTimer(nullptr, 0, 50, drive_ports);
  const bool ok = run_interface_dialog(GetModuleHandleA(nullptr), nullptr, choice);
  KillTimer(nullptr, timer);
  g_ports = nullptr;
  EXPECT_TRUE(script.section);
  EXPECT_FALSE(script.started_on);
  EXPECT_TRUE(script.adapters_enabled_at_start);
  EXPECT_TRUE(script.refused_one);
  EXPECT_EQ(script.followed, 1);
  EXPECT_FALSE(script.adapters_enabled_then);
  EXPECT_TRUE(ok);
  // The list's adapter (the first ticked), then the ticked ones.
  EXPECT_EQ(script.applied, (std::vector<int>{1, 1, 2}));
  EXPECT_TRUE(choice.several);
}

}  // namespace
}  // namespace skav::windows::gui

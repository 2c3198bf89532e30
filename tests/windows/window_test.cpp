// The Win32 window under Wine on a virtual display (scripts/test-windows.sh starts Xvfb): its
// resources, status bar and log in this process, the Network Interface dialog driven as an
// operator would, and skav-gui.exe itself found by its caption " - SKAV".

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "core/station/records.h"
#include "core/station/station_events.h"
#include "support/temp_dir.h"
#include "window_support.h"
#include "fake_line.h"
#include "line/totals.h"
#include "present/totals.h"
#include "frontends/win32/dialogs.h"
#include "frontends/win32/main_window.h"
#include "frontends/win32/operator_panel.h"
#include "frontends/win32/resource.h"
#include "frontends/win32/window_choices.h"

namespace skav::windows::gui {
namespace {

std::string menu_text(HMENU menu, UINT position) {
  char text[128] = {};
  GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
  return text;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!have_display()) return;
    ASSERT_TRUE(window_.create(GetModuleHandleA(nullptr)));
    log_ = FindWindowExA(window_.handle(), nullptr, "Edit", nullptr);
    status_ = GetDlgItem(window_.handle(), ID_STATUS_BAR);
  }
  FreshChoices fresh_;
  MainWindow window_{WindowChoices(kChoicesKey)};
  HWND log_ = nullptr;
  HWND status_ = nullptr;
};

TEST_F(WindowTest, MenuHasTheItemsAndCommandsInOrder) {
  SKAV_REQUIRE_DISPLAY();
  HMENU bar = GetMenu(window_.handle());
  ASSERT_NE(bar, nullptr);
  ASSERT_EQ(GetMenuItemCount(bar), 3);
  // Menu, item position, text, command (0 for a separator).
  const std::vector<std::tuple<int, UINT, std::string, UINT>> items = {
      {0, 0, "", 0}, {0, 1, "E&xit", ID_APP_EXIT},
      {1, 0, "&Status Bar", ID_VIEW_STATUS_BAR}, {1, 1, "Interface", ID_VIEW_INTERFACE},
      {1, 2, "Barcode", ID_VIEW_BARCODE}, {1, 3, "", 0},
      {1, 4, "Operator &Panel\tF9", ID_VIEW_PANEL}, {1, 5, "Zoom &In\tCtrl++", ID_VIEW_ZOOM_IN},
      {1, 6, "Zoom &Out\tCtrl+-", ID_VIEW_ZOOM_OUT}, {1, 7, "&Sound", ID_VIEW_SOUND},
      {1, 8, "&Reset Shift Totals", ID_VIEW_RESET_TOTALS}, {2, 0, "&About SKAV...", ID_APP_ABOUT}};
  EXPECT_EQ(menu_text(bar, 0), "&File");
  EXPECT_EQ(menu_text(bar, 1), "&View");
  EXPECT_EQ(menu_text(bar, 2), "&Help");
  const int counts[] = {2, 9, 1};
  for (int m = 0; m < 3; ++m) EXPECT_EQ(GetMenuItemCount(GetSubMenu(bar, m)), counts[m]);
  for (const auto& [menu, position, text, command] : items) {
    HMENU sub = GetSubMenu(bar, menu);
    EXPECT_EQ(menu_text(sub, position), text) << menu << "/" << position;
    if (command == 0) {
      EXPECT_EQ(GetMenuState(sub, position, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
    } else {
      EXPECT_EQ(GetMenuItemID(sub, static_cast<int>(position)), command) << text;
    }
  }
}

TEST_F(WindowTest, AcceleratorsAreTheFrameworksEditingAndFileKeysAndTheViewsOwn) {
  SKAV_REQUIRE_DISPLAY();
  HACCEL table = LoadAcceleratorsA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
  ASSERT_NE(table, nullptr);
  ACCEL entries[64];
  int n = CopyAcceleratorTableA(table, entries, 64);
  std::set<std::tuple<int, int, int>> got;
  for (int i = 0; i < n; ++i)
    got.insert({entries[i].fVirt & (FCONTROL | FSHIFT | FALT), entries[i].key, entries[i].cmd});
  std::set<std::tuple<int, int, int>> expected = {
      {FCONTROL, 'N', ID_FILE_NEW},       {FCONTROL, 'O', ID_FILE_OPEN},
      {FCONTROL, 'S', ID_FILE_SAVE},      {FCONTROL, 'Z', ID_EDIT_UNDO},
      {FALT, VK_BACK, ID_EDIT_UNDO},      {FCONTROL, 'X', ID_EDIT_CUT},
      {FSHIFT, VK_DELETE, ID_EDIT_CUT},   {FCONTROL, 'C', ID_EDIT_COPY},
      {FCONTROL, VK_INSERT, ID_EDIT_COPY}, {FCONTROL, 'V', ID_EDIT_PASTE},
      {FSHIFT, VK_INSERT, ID_EDIT_PASTE}, {0, VK_F6, ID_NEXT_PANE},
      {FSHIFT, VK_F6, ID_PREV_PANE},
      // Ctrl with the main keyboard's "=/+" and "-" keys or the keypad's, as in the Qt window.
      {0, VK_F9, ID_VIEW_PANEL},          {FCONTROL, VK_OEM_PLUS, ID_VIEW_ZOOM_IN},
      {FCONTROL, VK_ADD, ID_VIEW_ZOOM_IN}, {FCONTROL, VK_OEM_MINUS, ID_VIEW_ZOOM_OUT},
      {FCONTROL, VK_SUBTRACT, ID_VIEW_ZOOM_OUT}};
  // Ctrl+1 to Ctrl+9 select a port.
  for (int digit = 1; digit <= 9; ++digit) expected.insert({FCONTROL, '0' + digit, ID_SELECT_PORT1 + digit - 1});
  EXPECT_EQ(got, expected);
}

TEST_F(WindowTest, CaptionStatusBarAndReadOnlyLogAtStart) {
  SKAV_REQUIRE_DISPLAY();
  EXPECT_EQ(text_of(window_.handle()), " - SKAV");
  ASSERT_NE(log_, nullptr);
  const LONG style = GetWindowLongA(log_, GWL_STYLE);
  EXPECT_EQ(style & (ES_MULTILINE | ES_READONLY | WS_HSCROLL | WS_VSCROLL),
            ES_MULTILINE | ES_READONLY | WS_HSCROLL | WS_VSCROLL);
  EXPECT_FALSE(style & ES_WANTRETURN);  // no wrapping, no typing into the control itself
  EXPECT_EQ(SendMessageA(log_, EM_GETLIMITTEXT, 0, 0), static_cast<LRESULT>(MainWindow::kLimit));
  ASSERT_NE(status_, nullptr);
  EXPECT_EQ(SendMessageA(status_, SB_GETPARTS, 0, 0), 4);
  EXPECT_EQ(pane_text(status_, 0), "Ready");
}

// The indicators show the thread's real lock-key states, which SetKeyboardState sets here.
TEST_F(WindowTest, IndicatorsFollowTheLockKeys) {
  SKAV_REQUIRE_DISPLAY();
  BYTE keys[256];
  ASSERT_TRUE(GetKeyboardState(keys));
  const BYTE saved[3] = {keys[VK_CAPITAL], keys[VK_NUMLOCK], keys[VK_SCROLL]};
  for (int state = 0; state < 8; ++state) {
    keys[VK_CAPITAL] = state & 1 ? 1 : 0;
    keys[VK_NUMLOCK] = state & 2 ? 1 : 0;
    keys[VK_SCROLL] = state & 4 ? 1 : 0;
    ASSERT_TRUE(SetKeyboardState(keys));
    SendMessageA(window_.handle(), WM_TIMER, 1, 0);
    EXPECT_EQ(pane_text(status_, 1), state & 1 ? "CAP" : "") << state;
    EXPECT_EQ(pane_text(status_, 2), state & 2 ? "NUM" : "") << state;
    EXPECT_EQ(pane_text(status_, 3), state & 4 ? "SCRL" : "") << state;
  }
  keys[VK_CAPITAL] = saved[0];
  keys[VK_NUMLOCK] = saved[1];
  keys[VK_SCROLL] = saved[2];
  SetKeyboardState(keys);
}

TEST_F(WindowTest, LogHoldsTheAppendedBytesAndBackspaceTakesALineEndWhole) {
  SKAV_REQUIRE_DISPLAY();
  window_.log().append("abc");
  window_.log().append("def\r\n");
  pump();
  EXPECT_EQ(text_of(log_), "abcdef\r\n");
  window_.log().erase_last();
  pump();
  EXPECT_EQ(text_of(log_), "abcdef");
  window_.log().erase_last();
  pump();
  EXPECT_EQ(text_of(log_), "abcde");
}

// Past its limit the log drops its oldest whole lines, a slack's worth at once, and keeps the
// newest text; the control counts characters, the log bytes, and they must cut at the same line.
TEST_F(WindowTest, AFullLogDropsItsOldestLines) {
  SKAV_REQUIRE_DISPLAY();
  std::string wide_line;
  for (int i = 0; i < 9; ++i) wide_line += "工厂 Ω ";  // 90 bytes, 45 characters
  for (const std::string& line : {std::string(98, 'x'), wide_line + std::string(8, 'x')}) {
    SCOPED_TRACE(line);
    SendMessageW(window_.handle(), WM_COMMAND, ID_FILE_NEW, 0);
    std::string batch;
    for (int i = 0; i < 1000; ++i) batch += line + "\r\n";  // 100,000 bytes
    for (int i = 0; i < 11; ++i) {
      window_.log().append(batch);
      pump();
    }
    window_.log().append("newest\r\n");
    pump();
    const std::string text = wide_text_of(log_);
    EXPECT_LE(text.size(), MainWindow::kLimit);
    EXPECT_GE(text.size(), MainWindow::kLimit - MainWindow::kTrimSlack - 100);
    EXPECT_EQ(text.substr(0, 100), line + "\r\n");  // starts at a line
    EXPECT_EQ(text.substr(text.size() - 8), "newest\r\n");
  }
}

// A log line or a path in Chinese and Greek reaches the log and the status bar whole, whatever
// the ANSI code page: also a character whose bytes arrive in two pieces, and one taken back.
TEST_F(WindowTest, TextInChineseAndGreekReachesTheLogAndTheStatusBarWhole) {
  SKAV_REQUIRE_DISPLAY();
  const std::string line = "Log: C:\\工厂 Ω\\log.txt\r\n";
  const std::size_t split = line.find("厂") + 1;  // inside 厂
  window_.log().append(line.substr(0, split));
  pump();
  EXPECT_EQ(wide_text_of(log_), line.substr(0, line.find("厂")));  // 厂 waits for its rest
  window_.log().append(line.substr(split));
  pump();
  EXPECT_EQ(wide_text_of(log_), line);
  window_.log().append("Ω");
  pump();
  EXPECT_EQ(wide_text_of(log_), line + "Ω");
  window_.log().erase_last();  // Ω's last byte: the character goes
  pump();
  EXPECT_EQ(wide_text_of(log_), line);
  window_.log().append("\xA9x");  // Ω again, the byte taken back and then more text
  pump();
  EXPECT_EQ(wide_text_of(log_), line + "Ωx");
  window_.log().erase_last();
  pump();
  EXPECT_EQ(wide_text_of(log_), line + "Ω");

  auto snapshot = std::make_shared<station::StationSnapshot>();
  snapshot->status_text = "Ethernet -> 以太网 Ω   MAC_Addr -> [00-11-22-33-44-55]";
  window_.events().on_snapshot(snapshot);
  pump();
  EXPECT_EQ(wide_pane_text(status_, 0), snapshot->status_text);
}

TEST_F(WindowTest, SnapshotsSetTheStatusPaneAndTheViewMenu) {
  SKAV_REQUIRE_DISPLAY();
  auto snapshot = std::make_shared<station::StationSnapshot>();
  snapshot->status_text = "Ethernet -> eth1   MAC_Addr -> [00-11-22-33-44-55]";
  snapshot->barcode_mode = station::BarcodeMode::kOn;
  snapshot->run_status = station::RunStatus::kRunning;
  window_.events().on_snapshot(snapshot);
  pump();
  EXPECT_EQ(pane_text(status_, 0), snapshot->status_text);
  HMENU view = GetSubMenu(GetMenu(window_.handle()), 1);
  SendMessageA(window_.handle(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(view), 1);
  EXPECT_TRUE(GetMenuState(view, ID_VIEW_BARCODE, MF_BYCOMMAND) & MF_CHECKED);
  EXPECT_TRUE(GetMenuState(view, ID_VIEW_STATUS_BAR, MF_BYCOMMAND) & MF_CHECKED);
  EXPECT_TRUE(GetMenuState(view, ID_VIEW_INTERFACE, MF_BYCOMMAND) & MF_GRAYED);

  auto idle = std::make_shared<station::StationSnapshot>(*snapshot);
  idle->barcode_mode = station::BarcodeMode::kOff;
  idle->run_status = station::RunStatus::kNoRun;
  window_.events().on_snapshot(idle);
  pump();
  SendMessageA(window_.handle(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(view), 1);
  EXPECT_FALSE(GetMenuState(view, ID_VIEW_BARCODE, MF_BYCOMMAND) & MF_CHECKED);
  EXPECT_FALSE(GetMenuState(view, ID_VIEW_INTERFACE, MF_BYCOMMAND) & MF_GRAYED);
}

int height_of(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return r.bottom - r.top;
}

// The operator view's panel sits right above the log, with room for every step from the
// start, so that the log does not move when a board's plan arrives.
TEST_F(WindowTest, ThePanelSitsAboveTheLogWhichStaysPutWhenAPlanArrives) {
  SKAV_REQUIRE_DISPLAY();
  HWND panel = panel_of(window_.handle());
  ASSERT_NE(panel, nullptr);
  auto top_of_log = [&] {
    RECT r{};
    GetWindowRect(log_, &r);
    POINT p{r.left, r.top};
    ScreenToClient(window_.handle(), &p);
    return p.y;
  };
  const int before = height_of(panel);
  EXPECT_GT(before, 0);
  EXPECT_EQ(top_of_log(), before);
  auto snapshot = std::make_shared<station::StationSnapshot>();
  snapshot->start_ups = 1;
  snapshot->adapter_open = true;
  station::BoardView board;
  board.number = 1;
  board.planned = true;
  for (std::size_t i = 0; i < board.steps.size(); ++i) {
    board.steps[i].slot = static_cast<station::StepSlot>(i);
    board.steps[i].used = true;
  }
  snapshot->board = board;
  window_.events().on_snapshot(snapshot);
  pump();
  EXPECT_EQ(window_.panel().panel().steps.size(), board.steps.size());
  EXPECT_EQ(height_of(panel), before);
  EXPECT_EQ(top_of_log(), before);
}

// The word's box takes its tone's colour: the panel painted into a bitmap, read at the box's
// corner, where no text is drawn.
TEST_F(WindowTest, TheWordsBoxIsPaintedInTheColourOfTheBoardsState) {
  SKAV_REQUIRE_DISPLAY();
  HWND panel = panel_of(window_.handle());
  ASSERT_NE(panel, nullptr);
  auto started = [] {
    auto s = std::make_shared<station::StationSnapshot>();
    s->start_ups = 1;
    s->adapter_open = true;
    s->adapter = "eth1";
    return s;
  };
  auto with_board = [&](bool finished, station::Verdict overall) {
    auto s = started();
    station::BoardView board;
    board.number = 1;
    board.finished = finished;
    board.overall = overall;
    s->board = board;
    s->run_status = finished ? station::RunStatus::kNoRun : station::RunStatus::kRunning;
    return s;
  };
  auto adapter_gone = started();
  adapter_gone->adapter_open = false;
  adapter_gone->adapter_problem = "eth1 went away";
  const std::vector<std::tuple<const char*, std::shared_ptr<station::StationSnapshot>, COLORREF>>
      cases = {
          {"starting", std::make_shared<station::StationSnapshot>(), RGB(0xee, 0xee, 0xee)},
          {"programming", with_board(false, station::Verdict::kSkipped), RGB(0x86, 0xb7, 0xe8)},
          {"pass", with_board(true, station::Verdict::kPass), RGB(0x0a, 0x45, 0x28)},
          {"fail", with_board(true, station::Verdict::kFail), RGB(0xcc, 0x48, 0x08)},
          {"timeout", with_board(true, station::Verdict::kTimeout), RGB(0xcc, 0x48, 0x08)},
          {"adapter error", adapter_gone, RGB(0xcc, 0x48, 0x08)},
      };
  RECT area{};
  GetClientRect(panel, &area);
  ASSERT_GT(area.right, 8);
  HDC screen = GetDC(panel);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, area.right, area.bottom);
  ReleaseDC(panel, screen);
  HGDIOBJ old = SelectObject(dc, bitmap);
  for (const auto& [name, snapshot, colour] : cases) {
    window_.events().on_snapshot(snapshot);
    pump();
    SendMessageA(panel, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    EXPECT_EQ(GetPixel(dc, 2, 2), colour) << name;
    // The totals' side keeps the window's own colour.
    EXPECT_EQ(GetPixel(dc, area.right - 4, area.bottom / 4), GetSysColor(COLOR_3DFACE)) << name;
  }
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
}

// The totals are the line's: the boards it counted this shift and today (with the records read
// at its start). Reset asks first and then asks the line, whose next snapshot starts the
// shift's count again and leaves the day's.
TEST_F(WindowTest, TotalsShowTheLinesCountsAndResetAsksTheLine) {
  SKAV_REQUIRE_DISPLAY();
  test::TempDir dir;
  const std::string today = line::date_of(station::iso8601_now());
  const std::filesystem::path records = dir.write(
      station::kRecordsFile, station::records_header() + today +
                                 "T06:00:00+00:00,eth0,02:00:00:00:00:01,,pass,pass,pass,pass,pass,pass,9.0,eth0\n");
  FakeLine fake(window_, 1, records);
  pump();
  const OperatorPanel& panel = window_.panel();
  EXPECT_EQ(panel.totals().counts, "0 boards   0 passed   0 failed");
  EXPECT_EQ(panel.totals().today, "Today: 1 board: 1 passed, 0 failed");
  // The same board failed and then passed its re-test: one board, two runs.
  const std::vector<std::pair<station::Verdict, int>> runs = {
      {station::Verdict::kPass, 1}, {station::Verdict::kFail, 1}, {station::Verdict::kPass, 1},
      {station::Verdict::kFail, 1}, {station::Verdict::kPass, 2}};
  for (std::size_t i = 0; i < runs.size(); ++i) {
    station::BoardRecord record;
    record.time = today + "T07:00:00+00:00";
    record.overall = runs[i].first;
    record.attempt = runs[i].second;
    record.written_mac = "02:00:00:0A:00:0" + std::to_string(i < 4 ? i : 3);
    fake.finish(0, record);
  }
  pump();
  EXPECT_EQ(window_.shift_totals(), (present::Totals{4, 3, 1, 5, 0, 2}));
  // The window counts nothing itself: what the line did not publish is not shown.
  station::BoardRecord unpublished;
  unpublished.overall = station::Verdict::kPass;
  window_.events().on_board_finished(unpublished);
  pump();
  EXPECT_EQ(panel.totals().counts, "4 boards   3 passed   1 failed   5 runs");
  EXPECT_EQ(panel.totals().rate.substr(0, 27), "75% passed   50% first pass");
  EXPECT_EQ(panel.totals().today, "Today: 5 boards: 4 passed, 1 failed, 6 runs");
  // Reset asks first: No keeps the count and asks the line nothing, Yes asks it once.
  std::vector<std::string> asked;
  bool answer = false;
  window_.set_confirm([&](const std::string& question) {
    asked.push_back(question);
    return answer;
  });
  SendMessageA(panel.reset_button(), BM_CLICK, 0, 0);
  pump();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked.front(), present::kResetQuestion);
  EXPECT_EQ(panel.totals().counts, "4 boards   3 passed   1 failed   5 runs");
  EXPECT_TRUE(fake.posted.empty());
  answer = true;
  SendMessageA(window_.handle(), WM_COMMAND, ID_VIEW_RESET_TOTALS, 0);
  pump();
  EXPECT_EQ(asked.size(), 2u);
  ASSERT_EQ(fake.posted.size(), 1u);
  EXPECT_TRUE(std::holds_alternative<line::ResetShift>(fake.posted.front().second));
  EXPECT_EQ(panel.totals().counts, "0 boards   0 passed   0 failed");
  EXPECT_EQ(panel.totals().rate.substr(0, 12), "no board yet");
  EXPECT_EQ(panel.totals().today, "Today: 5 boards: 4 passed, 1 failed, 6 runs");
}

// The Network Interface dialog, driven step by step from a timer while it runs modally.
struct DialogScript {
  std::vector<std::string> seen_pairs;
  int limit = 0;
  std::string typed_g;  // the third field after typing 'G' into it
  bool refused_short = false;
  int step = 0;
  std::vector<std::pair<int, MacDigits::Digits>> applied;
};
DialogScript* g_script = nullptr;

void CALLBACK drive_dialog(HWND, UINT, UINT_PTR, DWORD) {
  DialogScript& s = *g_script;
  HWND dialog = FindWindowA(nullptr, "Network Interface");
  if (dialog == nullptr) return;
  HWND box = FindWindowA(nullptr, "SKAV");  // the message about a short field
  switch (s.step) {
    case 0:
      for (int i = 0; i < 6; ++i) s.seen_pairs.push_back(text_of(GetDlgItem(dialog, IDC_PAIR0 + i)));
      s.limit = static_cast<int>(SendDlgItemMessageA(dialog, IDC_PAIR0, EM_GETLIMITTEXT, 0, 0));
      SetDlgItemTextA(dialog, IDC_PAIR0 + 2, "A");
      SendDlgItemMessageA(dialog, IDC_PAIR0 + 2, WM_CHAR, 'G', 1);  // not a hex digit
      s.typed_g = text_of(GetDlgItem(dialog, IDC_PAIR0 + 2));
      PostMessageA(dialog, WM_COMMAND, IDOK, 0);
      ++s.step;
      break;
    case 1:
      if (box == nullptr) return;
      s.refused_short = true;
      PostMessageA(box, WM_COMMAND, IDOK, 0);
      ++s.step;
      break;
    case 2:
      if (box != nullptr) return;
      SetDlgItemTextA(dialog, IDC_PAIR0 + 2, "ab");
      SendDlgItemMessageA(dialog, IDC_ADAPTERS, CB_SETCURSEL, 1, 0);
      PostMessageA(dialog, WM_COMMAND, IDOK, 0);
      ++s.step;
      break;
    default:
      break;
  }
}

TEST(InterfaceDialog, FieldsTakeTwoHexDigitsAndOkHandsOverTheChoice) {
  SKAV_REQUIRE_DISPLAY();
  pump();  // a closed window's quit message would end the dialog's loop at once
  DialogScript script;
  g_script = &script;
  InterfaceChoice choice;
  choice.adapters = {"first adapter", "second adapter"};
  choice.selected = 0;
  choice.digits = {'0', '0', '1', '1', '2', '2', '3', '3', '4', '4', '5', '5'};
  choice.apply = [&script](int index, const MacDigits::Digits& digits) {
    script.applied.emplace_back(index, digits);
    return true;
  };
  UINT_PTR timer = SetTimer(nullptr, 0, 50, drive_dialog);
  const bool ok = run_interface_dialog(GetModuleHandleA(nullptr), nullptr, choice);
  KillTimer(nullptr, timer);
  g_script = nullptr;
  EXPECT_TRUE(ok);
  EXPECT_EQ(script.seen_pairs, (std::vector<std::string>{"00", "11", "22", "33", "44", "55"}));
  EXPECT_EQ(script.limit, 2);
  EXPECT_EQ(script.typed_g, "A");
  EXPECT_TRUE(script.refused_short);
  ASSERT_EQ(script.applied.size(), 1u);  // not for the short field
  EXPECT_EQ(script.applied[0].first, 1);
  const MacDigits::Digits expected = {'0', '0', '1', '1', 'a', 'b', '3', '3', '4', '4', '5', '5'};
  EXPECT_EQ(script.applied[0].second, expected);
  EXPECT_EQ(choice.digits, expected);
}

// skav-gui.exe itself: its window is found by the caption " - SKAV", and with --screenshot it
// programs a simulated board on each of its ports, writes its picture and ends by itself.
class WindowProgram : public ::testing::TestWithParam<int> {};

TEST_P(WindowProgram, OpensTheWindowTitledSkavAndProgramsABoardOnEachPort) {
  SKAV_REQUIRE_DISPLAY();
  const int ports = GetParam();
  test::TempDir dir;
  dir.copy_from(std::filesystem::path(SKAV_SOURCE_DIR) / "examples");
  dir.write("settings.reg",
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\SKAV]\r\n"
            "\"BarCode\"=dword:00000000\r\n");
  const std::string picture = (dir / "window.png").string();
  std::string command = "\"" + std::string(SKAV_GUI_PROGRAM) + "\" --simulate=1 --ports " +
                        std::to_string(ports) + " --screenshot-timeout 60 --settings \"" +
                        (dir / "settings.reg").string() + "\" -C \"" + dir.path().string() +
                        "\" --screenshot \"" + picture + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process))
      << command;
  // Looks for the window while the program runs (it ends by itself once the boards are done).
  HWND found = nullptr;
  while (found == nullptr && WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT)
    found = FindWindowA(nullptr, " - SKAV");
  EXPECT_NE(found, nullptr) << "no window titled \" - SKAV\"";
  if (found != nullptr) {
    HWND log = FindWindowExA(found, nullptr, "Edit", nullptr);
    EXPECT_NE(log, nullptr);
    EXPECT_NE(GetDlgItem(found, ID_STATUS_BAR), nullptr);
  }
  ASSERT_EQ(WaitForSingleObject(process.hProcess, 120000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(test::read_file(picture).substr(0, 8), "\x89PNG\r\n\x1a\n");
  // The written addresses, one a board, counting up from the pool's first.
  const std::string records = test::read_file(dir / "skav-records.csv");
  const char* addresses[] = {",00:11:22:33:44:55,pass,", ",00:11:22:33:44:56,pass,", ",00:11:22:33:44:57,pass,"};
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(records.find(addresses[i]) != std::string::npos, i < ports) << records;
}

INSTANTIATE_TEST_SUITE_P(Ports, WindowProgram, ::testing::Values(1, 2));

struct FoundBox {
  DWORD process = 0;
  HWND box = nullptr;
};

BOOL CALLBACK find_box(HWND window, LPARAM data) {
  auto* found = reinterpret_cast<FoundBox*>(data);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char name[16] = {};
  GetClassNameA(window, name, sizeof name);
  // A box is listed from its creation on, but filled in before it shows.
  if (owner != found->process || std::string(name) != "#32770" || !IsWindowVisible(window)) return TRUE;
  found->box = window;
  return FALSE;
}

// skav-gui.exe --help, started as from a shortcut (no console to write to): the help shows in
// a message box, and OK ends the program with 0.
TEST(WindowProgramHelp, ShowsTheHelpInAMessageBox) {
  SKAV_REQUIRE_DISPLAY();
  std::string command = "\"" + std::string(SKAV_GUI_PROGRAM) + "\" --help";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process))
      << command;
  FoundBox found{process.dwProcessId, nullptr};
  // The box comes up at once; a minute's bound only keeps a broken program from hanging here.
  for (int i = 0; i < 3000 && found.box == nullptr; ++i) {
    if (WaitForSingleObject(process.hProcess, 20) != WAIT_TIMEOUT) break;
    EnumWindows(find_box, reinterpret_cast<LPARAM>(&found));
  }
  ASSERT_NE(found.box, nullptr) << "no message box";
  EXPECT_EQ(text_of(found.box), "SKAV");
  // A message box's text is its static control 0xFFFF.
  const std::string help = text_of(GetDlgItem(found.box, 0xFFFF));
  EXPECT_NE(help.find("--simulate"), std::string::npos) << help;
  PostMessageA(found.box, WM_COMMAND, IDOK, 0);
  ASSERT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(code, 0u);
}

}  // namespace
}  // namespace skav::windows::gui

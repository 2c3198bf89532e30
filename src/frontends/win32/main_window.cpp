#include "frontends/win32/main_window.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "core/platform/utf8.h"
#include "core/platform/wide_windows.h"
#include "core/station/station.h"
#include "line/line.h"
#include "present/line_mailbox.h"
#include "frontends/win32/alarm_tone.h"
#include "frontends/win32/dialogs.h"
#include "frontends/win32/paint_tools.h"
#include "frontends/win32/resource.h"
#include "present/interface_choice.h"
#include "present/progress.h"

namespace skav::windows::gui {

namespace {

// WM_DPICHANGED, which the headers declare only for Windows 8.1 and later.
constexpr UINT kDpiChanged = 0x02E0;


constexpr const wchar_t* kFrameClass = L"SKAVFrame";
constexpr UINT kLogArrived = WM_APP + 1;
constexpr UINT kEventsArrived = WM_APP + 2;
constexpr UINT kLineArrived = WM_APP + 3;
// The lock-key indicators follow the keys at this period, as an idle update would.
constexpr UINT_PTR kIndicatorTimer = 1;
constexpr UINT kIndicatorPeriodMs = 100;
// Boards per hour move on while no board finishes.
constexpr UINT_PTR kTotalsTimer = 2;
constexpr UINT kTotalsPeriodMs = 30000;
constexpr int kProgressWidth = 220;
// The verdict's part: room for its mark and the longest word, so that it does not jump.
constexpr const char* kLongestWord = "STATION ERROR";

std::string load_string(HINSTANCE instance, UINT id) {
  wchar_t text[256] = {};
  int n = LoadStringW(instance, id, text, static_cast<int>(std::size(text)));
  return platform::utf8_of_wide(std::wstring_view(text, n > 0 ? static_cast<std::size_t>(n) : 0));
}

// A status bar's part shows UTF-8 `text` whole, whatever the ANSI code page.
void set_part_text(HWND status, WPARAM part, const std::string& text) {
  SendMessageW(status, SB_SETTEXTW, part, reinterpret_cast<LPARAM>(platform::wide_of(text).c_str()));
}

// The prompt a menu item shows in the message pane: its string's text before the line break.
std::string menu_prompt(HINSTANCE instance, UINT id) {
  std::string text = load_string(instance, id);
  return text.substr(0, text.find('\n'));
}

}  // namespace

MainWindow::MainWindow(WindowChoices choices)
    : line_mailbox_(std::make_unique<present::LineMailbox>(
          [this] { return PostMessageW(frame_, kLineArrived, 0, 0) != 0; })),
      choices_(std::move(choices)),
      alarm_(play_alarm_tone),
      confirm_([this](const std::string& question) {
        return MessageBoxW(frame_, wide(question).c_str(), wide(present::kTitle).c_str(),
                           MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
      }),
      totals_(std::chrono::steady_clock::now()) {}

MainWindow::~MainWindow() {
  if (frame_ != nullptr) DestroyWindow(frame_);
  if (font_ != nullptr) DeleteObject(font_);
  if (icon_ != nullptr) DestroyIcon(icon_);
  if (small_icon_ != nullptr) DestroyIcon(small_icon_);
}

Log& MainWindow::log(int port) { return *ports_[static_cast<std::size_t>(port)]->log_mailbox; }

station::StationEvents& MainWindow::events(int port) {
  return *ports_[static_cast<std::size_t>(port)]->events_mailbox;
}

line::LineEvents& MainWindow::line_events() { return *line_mailbox_; }

bool MainWindow::add_port() {
  const int index = port_count();
  auto port = std::make_unique<Port>();
  // The log: a multi-line edit control without wrapping, read-only so that only the station
  // changes it; the operator selects, scrolls and copies, and the caret shows. Only the
  // selected port's is visible.
  port->log = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                              WS_CHILD | (index == selected_ ? WS_VISIBLE : 0) | WS_HSCROLL |
                                  WS_VSCROLL | ES_MULTILINE | ES_AUTOHSCROLL | ES_AUTOVSCROLL |
                                  ES_NOHIDESEL | ES_READONLY,
                              0, 0, 0, 0, frame_, nullptr, instance_, nullptr);
  if (port->log == nullptr) return false;
  SendMessageW(port->log, EM_SETLIMITTEXT, kLimit, 0);
  SetWindowLongPtrW(port->log, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  edit_proc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(port->log, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(log_proc)));
  if (font_ != nullptr) SendMessageW(port->log, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
  const auto wparam = static_cast<WPARAM>(index);
  port->log_mailbox = std::make_unique<present::LogMailbox>(
      [this, wparam] { return PostMessageW(frame_, kLogArrived, wparam, 0) != 0; });
  port->events_mailbox = std::make_unique<present::StationMailbox>(
      [this, wparam] { return PostMessageW(frame_, kEventsArrived, wparam, 0) != 0; });
  ports_.push_back(std::move(port));
  return true;
}

void MainWindow::set_port_count(int count) {
  if (count <= port_count() || frame_ == nullptr) return;
  while (port_count() < count)
    if (!add_port()) return;
  panel_.make_tiles(count);
  panel_.tiles().select(selected_);
  panel_.set_compact(!panel_shown_);
  update_totals();
  layout();
}

void MainWindow::set_port_name(int port, const std::string& name) {
  if (port < 0 || port >= port_count() || name.empty()) return;
  ports_[static_cast<std::size_t>(port)]->name = name;
  update_tiles();
}

void MainWindow::select_port(int port) {
  if (port < 0 || port >= port_count() || port == selected_) return;
  ShowWindow(selected().log, SW_HIDE);
  selected_ = port;
  Port& shown = selected();
  ShowWindow(shown.log, SW_SHOW);
  panel_.tiles().select(port);
  update_tiles();
  status_text_ = shown.shown == nullptr || shown.shown->status_text.empty()
                     ? load_string(instance_, IDS_IDLE_MESSAGE)
                     : shown.shown->status_text;
  if (!menu_open_) show_message_pane();
  show_progress();
  show_caption();
  // Typing goes to the log that has the keyboard: the selected port's.
  SetFocus(shown.log);
}

bool MainWindow::create(HINSTANCE instance) {
  instance_ = instance;
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  // The program's own icon, as Explorer shows it; drawn when the program carries none.
  auto load_icon = [instance](int size) {
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                         size, size, LR_DEFAULTCOLOR));
  };
  icon_ = load_icon(GetSystemMetrics(SM_CXICON));
  if (icon_ == nullptr) icon_ = make_app_icon(32);
  small_icon_ = load_icon(GetSystemMetrics(SM_CXSMICON));
  if (small_icon_ == nullptr) small_icon_ = make_app_icon(16);

  WNDCLASSEXW frame_class{};
  frame_class.cbSize = sizeof frame_class;
  frame_class.lpfnWndProc = frame_proc;
  frame_class.hInstance = instance;
  frame_class.hIcon = icon_;
  frame_class.hIconSm = small_icon_;
  frame_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
  frame_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_3DFACE + 1);
  frame_class.lpszClassName = kFrameClass;
  if (RegisterClassExW(&frame_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    return false;
  accelerators_ = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME));
  HMENU menu = LoadMenuW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME));
  status_text_ = load_string(instance, IDS_IDLE_MESSAGE);
  frame_ = CreateWindowExW(0, kFrameClass, L"", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                           1024, 720, nullptr, menu, instance, this);
  if (frame_ == nullptr) return false;
  // The size above is at 96 DPI; a window that opens on a denser monitor grows to match.
  if (const int dpi = dpi_of(frame_); dpi != 96)
    SetWindowPos(frame_, nullptr, 0, 0, MulDiv(1024, dpi, 96), MulDiv(720, dpi, 96),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  show_caption();
  return true;
}

LRESULT CALLBACK MainWindow::frame_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    self->frame_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);
  return self->on_message(message, wparam, lparam);
}

LRESULT MainWindow::on_message(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE: {
      log_points_ = choices_.log_points();
      sound_ = choices_.sound();
      panel_shown_ = choices_.panel_shown();
      if (!add_port()) return -1;
      set_log_font();
      if (!panel_.create(instance_, frame_)) return -1;
      panel_.set_on_select([this](int port) { select_port(port); });
      ShowWindow(panel_.handle(), panel_shown_ ? SW_SHOW : SW_HIDE);
      panel_.set_on_reset([this] { reset_shift_totals(); });
      status_ = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP,
                                0, 0, 0, 0, frame_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(ID_STATUS_BAR)),
                                instance_, nullptr);
      if (status_ == nullptr) return -1;
      SetTimer(frame_, kIndicatorTimer, kIndicatorPeriodMs, nullptr);
      SetTimer(frame_, kTotalsTimer, kTotalsPeriodMs, nullptr);
      update_totals();
      layout();
      show_message_pane();
      update_indicators();
      return 0;
    }
    case WM_SIZE:
      layout();
      return 0;
    case kDpiChanged: {
      // Moved to a monitor of another DPI (or its scale changed): the system suggests the
      // window's new place and size; the text is made again at the new DPI.
      const RECT* suggested = reinterpret_cast<const RECT*>(lparam);
      set_log_font();
      panel_.forget_fonts();
      SetWindowPos(frame_, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      layout();
      InvalidateRect(frame_, nullptr, TRUE);
      return 0;
    }
    case WM_SETFOCUS:
      SetFocus(selected().log);
      return 0;
    case WM_TIMER:
      if (wparam == kIndicatorTimer) update_indicators();
      if (wparam == kTotalsTimer) update_totals();
      return 0;
    case WM_CTLCOLORSTATIC:
      // The read-only log keeps a window's white background, not a dialog's grey.
      if (std::any_of(ports_.begin(), ports_.end(), [lparam](const auto& port) {
            return reinterpret_cast<HWND>(lparam) == port->log;
          })) {
        HDC dc = reinterpret_cast<HDC>(wparam);
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
      }
      break;
    case WM_INITMENUPOPUP: {
      HMENU menu = reinterpret_cast<HMENU>(wparam);
      const auto& shown = selected().shown;
      // The Interface dialog reopens the first port's adapter, which a run holds while it lasts.
      const auto& first = ports_.front()->shown;
      const bool barcode = shown != nullptr && shown->barcode_mode == station::BarcodeMode::kOn;
      const bool running = first != nullptr && first->run_status != station::RunStatus::kNoRun;
      const auto check = [menu](UINT item, bool on) {
        CheckMenuItem(menu, item, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
      };
      const auto enable = [menu](UINT item, bool on) {
        EnableMenuItem(menu, item, MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
      };
      // The status bar always stays; the adapter cannot change under a running board.
      check(ID_VIEW_STATUS_BAR, true);
      check(ID_VIEW_BARCODE, barcode);
      check(ID_VIEW_PANEL, panel_shown_);
      check(ID_VIEW_SOUND, sound_);
      enable(ID_VIEW_INTERFACE, !running);
      enable(ID_VIEW_ZOOM_IN, log_points_ < present::kLargestLogPoints);
      enable(ID_VIEW_ZOOM_OUT, log_points_ > present::kSmallestLogPoints);
      return 0;
    }
    case WM_MENUSELECT: {
      const UINT flags = HIWORD(wparam);
      if (flags == 0xFFFF && lparam == 0) break;  // the menu closes: WM_EXITMENULOOP follows
      menu_open_ = true;
      std::string prompt;
      if (!(flags & (MF_POPUP | MF_SEPARATOR))) prompt = menu_prompt(instance_, LOWORD(wparam));
      set_part_text(status_, 0, prompt);
      return 0;
    }
    case WM_EXITMENULOOP:
      menu_open_ = false;
      show_message_pane();
      return 0;
    case WM_COMMAND:
      on_command(LOWORD(wparam));
      return 0;
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      if (item.hwndItem == status_ && verdict_part() && static_cast<int>(item.itemID) == *verdict_part()) {
        draw_verdict_part(item);
        return TRUE;
      }
      break;
    }
    case kLogArrived:
      if (wparam < ports_.size()) apply_queued_log(static_cast<int>(wparam));
      return 0;
    case kEventsArrived:
      if (wparam < ports_.size()) apply_snapshot(static_cast<int>(wparam));
      return 0;
    case kLineArrived:
      show_line();
      return 0;
    case WM_DESTROY:
      KillTimer(frame_, kIndicatorTimer);
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      frame_ = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcW(frame_, message, wparam, lparam);
}

LRESULT CALLBACK MainWindow::log_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  return self->on_log_message(hwnd, message, wparam, lparam);
}

LRESULT MainWindow::on_log_message(HWND log, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_KEYDOWN:
      // Cursor, page, Home, End and Delete keys do nothing in the log; the accelerators have
      // been translated before, and typed characters still arrive as WM_CHAR.
      return 0;
    case WM_CHAR: {
      // Every character goes to the station's MAC entry, once per repeat; the log shows it
      // when the station echoes it. Enter arrives as 13, Backspace as 8. Only the selected
      // port's log is shown and has the keyboard. The entry takes only ASCII: a character
      // beyond it arrives as UTF-16 and would otherwise pass as some unrelated byte.
      if (input_ != nullptr && wparam < 0x80) {
        const char c = static_cast<char>(wparam);
        const int repeat = std::max(1, static_cast<int>(lparam & 0xFFFF));
        for (int i = 0; i < repeat; ++i) input_->post(static_cast<std::size_t>(selected_), line::Key{c});
      }
      return 0;
    }
    case WM_PASTE:
    case WM_CUT:
    case WM_CLEAR:
    case WM_UNDO:
      return 0;
    default:
      return CallWindowProcW(edit_proc_, log, message, wparam, lparam);
  }
}

void MainWindow::layout() {
  if (status_ == nullptr || ports_.empty()) return;
  SendMessageW(status_, WM_SIZE, 0, 0);
  RECT client{}, bar{};
  GetClientRect(frame_, &client);
  GetWindowRect(status_, &bar);
  const int bar_height = bar.bottom - bar.top;
  RECT frame{};
  GetWindowRect(frame_, &frame);
  // The panel sizes its text by the window's size at 96 DPI: at 144 DPI the same window has
  // half as many pixels again, and its fonts are scaled once, by make_font.
  const int dpi = dpi_of(frame_);
  panel_.fit_to(MulDiv(frame.bottom - frame.top, 96, dpi), MulDiv(frame.right - frame.left, 96, dpi));
  // Folded with one port the panel goes; the tiles stay, so that a port can still be chosen.
  const bool panel_visible = panel_shown_ || panel_.tiles().count() > 0;
  const int top = panel_visible ? panel_.height() : 0;
  MoveWindow(panel_.handle(), 0, 0, client.right, top, TRUE);
  for (const auto& port : ports_)
    MoveWindow(port->log, 0, top, client.right, std::max(0L, client.bottom - bar_height - top), TRUE);

  // The message pane stretches; the progress (while a section is sent) and the three
  // indicators keep their widths at the right.
  HDC dc = GetDC(status_);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(status_, WM_GETFONT, 0, 0)));
  SIZE scrl{};
  GetTextExtentPoint32W(dc, L"SCRL", 4, &scrl);
  SelectObject(dc, old);
  ReleaseDC(status_, dc);
  const int indicator = scrl.cx + 16;
  const int grip = GetSystemMetrics(SM_CXVSCROLL);
  int verdict_width = 0;
  if (verdict_part()) {
    HDC bar_dc = GetDC(status_);
    HFONT bold = make_font(bar_dc, 9, true);
    verdict_width = text_width(bar_dc, bold, kLongestWord) + line_height(bar_dc, bold) * 2 + 12;
    DeleteObject(bold);
    ReleaseDC(status_, bar_dc);
  }
  std::vector<int> edges;
  int right = client.right - grip - 3 * indicator - (progress_shown_ ? kProgressWidth : 0) - verdict_width;
  edges.push_back(std::max(right, 1));
  if (verdict_width > 0) {
    edges.push_back(right += verdict_width);
    // Drawn by the window: the mark and the word on the word's background.
    SendMessageW(status_, SB_SETTEXTW, static_cast<WPARAM>(edges.size() - 1) | SBT_OWNERDRAW, 0);
  }
  if (progress_shown_) edges.push_back(right += kProgressWidth);
  for (int i = 0; i < 3; ++i) edges.push_back(right += indicator);
  edges.back() = -1;
  SendMessageW(status_, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
  lock_keys_ = -1;  // the parts moved: write the indicators again
  update_indicators();
  if (!menu_open_) show_message_pane();
}

void MainWindow::show_message_pane() {
  set_part_text(status_, 0, status_text_);
}

void MainWindow::update_indicators() {
  const int keys = (GetKeyState(VK_CAPITAL) & 1) | (GetKeyState(VK_NUMLOCK) & 1) << 1 |
                   (GetKeyState(VK_SCROLL) & 1) << 2;
  if (keys == lock_keys_) return;
  lock_keys_ = keys;
  const auto first = static_cast<UINT>(first_indicator_part());
  const UINT ids[] = {IDS_INDICATOR_CAPS, IDS_INDICATOR_NUM, IDS_INDICATOR_SCRL};
  for (UINT i = 0; i < 3; ++i) {
    // A lock that is off shows an empty pane.
    std::string text = (keys >> i) & 1 ? load_string(instance_, ids[i]) : std::string();
    set_part_text(status_, first + i, text);
  }
}

void MainWindow::show_progress() {
  // The panel's steps show the transfer; folded, the status bar's pane does.
  const auto& snapshot = selected().shown;
  std::optional<present::ProgressLine> line;
  if (!panel_shown_ && snapshot != nullptr) line = present::progress_line(*snapshot);
  if (line.has_value() != progress_shown_) {
    progress_shown_ = line.has_value();
    layout();
  }
  if (line)
    set_part_text(status_, static_cast<WPARAM>(progress_part()), line->label);
}

void MainWindow::apply_snapshot(int index) {
  Port& port = *ports_[static_cast<std::size_t>(index)];
  present::StationMailbox::Box::Batch batch = port.events_mailbox->take();
  if (batch.snapshot != nullptr) {
    port.shown = std::move(batch.snapshot);
    const station::StationSnapshot& shown = *port.shown;
    if (present::new_refusal(shown, port.refusals)) call_operator();
    if (panel_.tiles().count() == 0) {
      present::Panel panel = present::make_panel(shown);
      const bool changed = panel.word != panel_.panel().word;
      panel_.show_panel(panel);
      if (changed && verdict_part())
        SendMessageW(status_, SB_SETTEXTW, static_cast<WPARAM>(*verdict_part()) | SBT_OWNERDRAW, 0);
    }
    if (index == selected_) {
      // Until the first tick sets the Status Pane text, the pane shows the idle "Ready".
      status_text_ = shown.status_text.empty() ? load_string(instance_, IDS_IDLE_MESSAGE)
                                                : shown.status_text;
      if (!menu_open_) show_message_pane();
      show_progress();
    }
    update_tiles();
  }
  for (const station::BoardRecord& record : batch.events) board_finished(record);
}

// The board's count is the line's: here the operator is called and the caller told.
void MainWindow::board_finished(const station::BoardRecord& record) {
  ++boards_finished_;
  if (present::is_alarm(present::verdict_word(record.overall))) call_operator();
  if (on_board_finished_) on_board_finished_(boards_finished_);
}

void MainWindow::show_line() {
  std::shared_ptr<const line::LineSnapshot> next = line_mailbox_->take();
  if (next == nullptr) return;
  std::shared_ptr<const line::LineSnapshot> before = std::exchange(line_, next);
  totals_.show(next->totals, next->port_counts, next->shift_resets, std::chrono::steady_clock::now());
  update_totals();
  // A prompt that opened or closed: the operator's typing goes where an address is asked for,
  // unless the port shown asks too. Only then: between prompts the operator chooses the port.
  const bool prompts_moved =
      before == nullptr || before->typing_port != next->typing_port || before->asking != next->asking;
  if (!prompts_moved || !next->typing_port || panel_.tiles().count() == 0) return;
  const auto shown = static_cast<std::size_t>(selected_);
  const bool shown_asks = next->typing_port == shown ||
                          std::find(next->asking.begin(), next->asking.end(), shown) != next->asking.end();
  if (!shown_asks) select_port(static_cast<int>(*next->typing_port));
}

std::optional<int> MainWindow::verdict_part() const {
  if (panel_shown_ || panel_.tiles().count() > 0) return std::nullopt;
  return 1;
}

void MainWindow::draw_verdict_part(const DRAWITEMSTRUCT& item) const {
  const present::Panel& shown = panel_.panel();
  HDC dc = item.hDC;
  fill(dc, item.rcItem, colorref(present::background_of(shown.tone)));
  SetBkMode(dc, TRANSPARENT);
  HFONT bold = make_font(dc, 9, true);
  RECT box = item.rcItem;
  box.left += 6;
  box.top += 1;
  box.bottom -= 1;
  draw_marked_word(dc, bold, shown.word, colorref(present::text_colour_of(shown.tone)), box);
  DeleteObject(bold);
}

void MainWindow::reset_shift_totals() {
  // A stray click would lose the shift's figures for good.
  if (confirm_ && !confirm_(present::kResetQuestion)) return;
  if (input_ != nullptr) input_->post(0, line::ResetShift{});
}

void MainWindow::call_operator() {
  if (sound_ && alarm_) alarm_();
}

void MainWindow::update_tiles() {
  if (panel_.tiles().count() == 0) return;
  std::vector<present::TilePort> ports;
  for (std::size_t i = 0; i < ports_.size(); ++i)
    ports.push_back(present::TilePort{ports_[i]->name, ports_[i]->shown.get(), totals_.port(i)});
  // The keyboard's typing goes to the selected port's log.
  panel_.tiles().show(present::tile_texts(ports, static_cast<std::size_t>(selected_)));
  panel_.update_tiles();
}

void MainWindow::update_totals() {
  update_tiles();
  panel_.show_totals(totals_.text(std::chrono::steady_clock::now()));
}

void MainWindow::apply_queued_log(int index) {
  Port& port = *ports_[static_cast<std::size_t>(index)];
  port.log_mailbox->drain([this, &port](const present::LogOperation& operation) {
    if (operation.erase) {
      erase_last(port);
    } else {
      append_text(port, operation.text);
    }
  });
}

void MainWindow::append_text(Port& port, std::string_view text) {
  if (text.empty()) return;
  HWND log = port.log;
  DWORD start = 0, end = 0;
  SendMessageW(log, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  const bool follow = start == end;
  const present::LogDocument::Change change = port.document.append(text);
  const std::string& bytes = port.document.bytes();
  // The control mirrors the document: what the document dropped from its front goes from the
  // control's too, counted in the control's units, and what stays of the appended bytes
  // follows its end.
  std::size_t trimmed_units = 0;
  if (change.trimmed_bytes > 0) {
    const std::size_t kept = port.shown_bytes > change.trimmed_bytes ? port.shown_bytes - change.trimmed_bytes : 0;
    const std::size_t kept_units = std::min(platform::wide_size(std::string_view(bytes).substr(0, kept)), port.shown_units);
    trimmed_units = port.shown_units - kept_units;
    SendMessageW(log, EM_SETSEL, 0, static_cast<LPARAM>(trimmed_units));
    SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
    port.shown_bytes = kept;
    port.shown_units = kept_units;
  }
  const std::size_t complete = platform::complete_utf8_size(bytes);
  if (complete > port.shown_bytes) {
    // A zero byte would end the text early: it shows as nothing, as other control bytes do.
    std::string added = bytes.substr(port.shown_bytes, complete - port.shown_bytes);
    std::replace(added.begin(), added.end(), '\0', ' ');
    const std::wstring shown = platform::wide_of(added);
    SendMessageW(log, EM_SETSEL, port.shown_units, static_cast<LPARAM>(port.shown_units));
    SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(shown.c_str()));
    port.shown_bytes = complete;
    port.shown_units += shown.size();
  }
  if (follow) {
    SendMessageW(log, EM_SCROLLCARET, 0, 0);
  } else {
    // The operator's selection stays where it was in the text.
    const auto shift = static_cast<DWORD>(trimmed_units);
    SendMessageW(log, EM_SETSEL, start > shift ? start - shift : 0, end > shift ? end - shift : 0);
  }
}

void MainWindow::erase_last(Port& port) {
  const std::string removed = port.document.erase_last();
  if (removed.empty()) return;
  const std::string& bytes = port.document.bytes();
  const std::size_t complete = platform::complete_utf8_size(bytes);
  if (complete >= port.shown_bytes) return;  // only bytes still waiting for their character
  // The shown bytes from `complete` on: what stays of them in the document, then the removed.
  std::string gone = bytes.substr(complete, std::min(port.shown_bytes, bytes.size()) - complete);
  if (port.shown_bytes > bytes.size()) gone.append(removed, 0, port.shown_bytes - bytes.size());
  std::replace(gone.begin(), gone.end(), '\0', ' ');
  const std::size_t units = std::min(platform::wide_size(gone), port.shown_units);
  SendMessageW(port.log, EM_SETSEL, port.shown_units - units, static_cast<LPARAM>(port.shown_units));
  SendMessageW(port.log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
  port.shown_bytes = complete;
  port.shown_units -= units;
}

void MainWindow::clear_log(Port& port) {
  port.document.clear();
  SetWindowTextW(port.log, L"");
  port.shown_bytes = 0;
  port.shown_units = 0;
}

void MainWindow::set_log_bytes(Port& port, std::string_view bytes) {
  clear_log(port);
  append_text(port, bytes);
}

void MainWindow::on_command(int command) {
  switch (command) {
    case ID_APP_EXIT:
      // No save prompt: the log is the station's, and it goes with the window.
      DestroyWindow(frame_);
      break;
    case ID_FILE_NEW:
      new_log();
      break;
    case ID_SELECT_PORT1 + 0:
    case ID_SELECT_PORT1 + 1:
    case ID_SELECT_PORT1 + 2:
    case ID_SELECT_PORT1 + 3:
    case ID_SELECT_PORT1 + 4:
    case ID_SELECT_PORT1 + 5:
    case ID_SELECT_PORT1 + 6:
    case ID_SELECT_PORT1 + 7:
    case ID_SELECT_PORT1 + 8:
      if (std::optional<int> port = present::port_for_digit(command - ID_SELECT_PORT1 + 1, port_count()))
        select_port(*port);
      break;
    case ID_FILE_OPEN:
      open_log();
      break;
    case ID_FILE_SAVE:
      save_log();
      break;
    case ID_EDIT_COPY:
      SendMessageW(selected().log, WM_COPY, 0, 0);
      break;
    case ID_VIEW_INTERFACE:
      show_interface_dialog();
      break;
    case ID_VIEW_BARCODE:
      toggle_barcode();
      break;
    case ID_VIEW_PANEL:
      set_panel_shown(!panel_shown_);
      choices_.set_panel_shown(panel_shown_);
      break;
    case ID_VIEW_ZOOM_IN:
      zoom_log(1);
      break;
    case ID_VIEW_ZOOM_OUT:
      zoom_log(-1);
      break;
    case ID_VIEW_SOUND:
      sound_ = !sound_;
      choices_.set_sound(sound_);
      break;
    case ID_VIEW_RESET_TOTALS:
      reset_shift_totals();
      break;
    case ID_APP_ABOUT:
      show_about_box(instance_, frame_, icon_);
      break;
    default:
      // Undo, Cut and Paste: the log changes only through the station. The status bar stays,
      // and there are no panes to move between.
      break;
  }
}

void MainWindow::start_up(int port) {
  if (input_ != nullptr) input_->post(static_cast<std::size_t>(port), line::StartUp{});
}

void MainWindow::set_panel_shown(bool shown) {
  panel_shown_ = shown;
  panel_.set_compact(!shown);
  // With several ports the tiles stay, so that the operator can still choose a port.
  ShowWindow(panel_.handle(), shown || panel_.tiles().count() > 0 ? SW_SHOW : SW_HIDE);
  layout();
  show_progress();
}

void MainWindow::set_log_font() {
  const int height = -MulDiv(log_points_, dpi_of(frame_), 72);
  // A fixed-pitch face that scales, so that columns of the log stay aligned at every size.
  // Any character set: characters the face lacks come from the system's linked fonts.
  HFONT font = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           FF_MODERN | FIXED_PITCH, L"Courier New");
  if (font == nullptr) return;
  for (const auto& port : ports_)
    SendMessageW(port->log, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  if (font_ != nullptr) DeleteObject(font_);
  font_ = font;
}

void MainWindow::zoom_log(int points) {
  const int size = present::zoomed_log_points(log_points_, points);
  if (size == log_points_) return;
  log_points_ = size;
  set_log_font();
  choices_.set_log_points(size);
}

void MainWindow::show_caption() {
  SetWindowTextW(frame_, platform::wide_of(selected().file.caption()).c_str());
}

void MainWindow::new_log() {
  // Text the station sent before the command belongs to the old log.
  apply_queued_log(selected_);
  clear_log(selected());
  selected().file.forget();
  show_caption();
  start_up(selected_);
}

void MainWindow::open_at_start(const std::string& path) {
  if (path.empty() || !open_file(path)) {
    // A file that could not be opened leaves a new log; the start-up runs all the same.
    if (!path.empty()) {
      selected().file.forget();
      show_caption();
    }
    start_up(selected_);
  }
  for (int i = 0; i < port_count(); ++i)
    if (i != selected_) start_up(i);
}

// The platform's Open or Save As dialog over all files; empty when the operator cancelled.
std::string MainWindow::choose_file(bool save) const {
  // Wide: a name outside the ANSI code page must come back whole.
  wchar_t path[MAX_PATH] = {};
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = frame_;
  dialog.lpstrFilter = L"All Files (*.*)\0*.*\0";
  dialog.lpstrFile = path;
  dialog.nMaxFile = MAX_PATH;
  dialog.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                 (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
  bool chosen = save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
  return chosen ? platform::utf8_of_wide(path) : std::string();
}

// A message that names a file, which may lie outside the ANSI code page.
void MainWindow::show_file_message(const std::string& text) const {
  MessageBoxW(frame_, platform::wide_of(text).c_str(), platform::wide_of(present::kTitle).c_str(),
              MB_OK | MB_ICONEXCLAMATION);
}

void MainWindow::open_log() {
  std::string path = choose_file(false);
  if (!path.empty()) open_file(path);
}

bool MainWindow::open_file(const std::string& path) {
  apply_queued_log(selected_);
  const present::OpenResult opened = selected().file.open(path);
  switch (opened.then) {
    case present::OpenResult::Then::kShow:
      set_log_bytes(selected(), opened.bytes);
      show_caption();
      // As after New, the station's start-up runs again.
      start_up(selected_);
      return true;
    case present::OpenResult::Then::kNewLog:
      show_file_message(opened.message);
      new_log();
      return false;
    case present::OpenResult::Then::kNothing:
      break;
  }
  show_file_message(opened.message);
  return false;
}

void MainWindow::save_log() {
  std::string path = selected().file.path();
  if (selected().file.needs_name()) path = choose_file(true);
  if (!path.empty()) save_to(path);
}

bool MainWindow::save_to(const std::string& path) {
  apply_queued_log(selected_);
  if (std::optional<std::string> error = selected().file.save(path, selected().document.bytes())) {
    show_file_message(*error);
    return false;
  }
  show_caption();
  return true;
}

void MainWindow::show_interface_dialog() {
  if (input_ == nullptr) return;
  // The Interface dialog reopens the first port's adapter.
  std::shared_ptr<const station::StationSnapshot> shown = input_->port_snapshot(0);
  if (shown == nullptr) return;
  const bool several = port_count() > 1;
  InterfaceChoice choice;
  choice.adapters = present::adapter_labels(shown->adapters);
  choice.selected = shown->selected_index;
  choice.digits = shown->digits;
  if (ports_choice_) {
    choice.ports_offered = true;
    choice.running_several = several;
    choice.ticked = present::ticked_of(shown->adapters, choices_.ports());
  }
  choice.apply = [this, several, &choice, &shown](int index, const MacDigits::Digits& digits) {
    // The station refuses the change while a run holds the adapter. With several ports
    // running, every port keeps its adapter until the next start: the first reopens its own
    // and stores it as NetIF, with the address.
    std::shared_ptr<const station::StationSnapshot> now = input_->port_snapshot(0);
    std::optional<int> posted = present::interface_apply_index(now ? *now : *shown, index, several);
    if (!posted) return false;
    input_->post(0, line::ApplyInterface{*posted, digits});
    if (ports_choice_)
      choices_.set_ports(present::ports_to_store(shown->adapters, choice.several, choice.ticked));
    return true;
  };
  run_interface_dialog(instance_, frame_, choice);
}

void MainWindow::toggle_barcode() {
  // One stored BarCode for all ports: each port's station switches it.
  if (input_ == nullptr) return;
  for (std::size_t port = 0; port < ports_.size(); ++port) input_->post(port, line::ToggleBarcode{});
}

int MainWindow::run() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (frame_ != nullptr && TranslateAcceleratorW(frame_, accelerators_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace skav::windows::gui

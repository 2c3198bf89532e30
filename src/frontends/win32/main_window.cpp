#include "frontends/win32/main_window.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/platform/files.h"
#include "core/station/station.h"
#include "frontends/win32/dialogs.h"
#include "frontends/win32/resource.h"

namespace skav::windows::gui {

namespace {

constexpr const char* kFrameClass = "SKAVFrame";
constexpr const char* kTitle = "SKAV";
constexpr UINT kLogArrived = WM_APP + 1;
constexpr UINT kEventsArrived = WM_APP + 2;
// The lock-key indicators follow the keys at this period, as an idle update would.
constexpr UINT_PTR kIndicatorTimer = 1;
constexpr UINT kIndicatorPeriodMs = 100;
// Boards per hour move on while no board finishes.
constexpr UINT_PTR kTotalsTimer = 2;
constexpr UINT kTotalsPeriodMs = 30000;
constexpr int kProgressWidth = 220;

std::string load_string(HINSTANCE instance, UINT id) {
  char text[256] = {};
  int n = LoadStringA(instance, id, text, sizeof text);
  return std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

// The prompt a menu item shows in the message pane: its string's text before the line break.
std::string menu_prompt(HINSTANCE instance, UINT id) {
  std::string text = load_string(instance, id);
  return text.substr(0, text.find('\n'));
}

// The local time of day, "08:02".
std::string clock_text() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  char text[8];
  std::snprintf(text, sizeof text, "%02u:%02u", static_cast<unsigned>(now.wHour) % 100u,
                static_cast<unsigned>(now.wMinute) % 100u);
  return text;
}

std::string file_name_of(const std::string& path) {
  std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

// The log as the station writes it, queued in call order for the window's thread.
class MainWindow::WindowLog : public Log {
 public:
  struct Operation {
    bool erase = false;
    std::string text;
  };
  explicit WindowLog(const HWND& window) : window_(window) {}

  void append(std::string_view text) override { queue(false, text); }
  void erase_last() override { queue(true, {}); }

  std::vector<Operation> take() {
    std::lock_guard lock(mutex_);
    posted_ = false;
    return std::move(pending_);
  }

 private:
  void queue(bool erase, std::string_view text) {
    std::lock_guard lock(mutex_);
    if (!erase && !pending_.empty() && !pending_.back().erase) {
      pending_.back().text.append(text);
    } else {
      pending_.push_back(Operation{erase, std::string(text)});
    }
    // One message for everything that arrives before the window's thread looks.
    if (!posted_) posted_ = PostMessageA(window_, kLogArrived, 0, 0) != 0;
  }

  const HWND& window_;
  std::mutex mutex_;
  std::vector<Operation> pending_;
  bool posted_ = false;
};

// The station's snapshots for the window's thread: the latest one wins.
class MainWindow::WindowEvents : public station::StationEvents {
 public:
  explicit WindowEvents(const HWND& window) : window_(window) {}

  void on_snapshot(std::shared_ptr<const station::StationSnapshot> snapshot) override {
    std::lock_guard lock(mutex_);
    pending_ = std::move(snapshot);
    post();
  }
  void on_board_finished(const station::BoardRecord& record) override {
    std::lock_guard lock(mutex_);
    finished_.push_back(record);
    post();
  }

  // The latest snapshot (none if none came) and the boards finished since the last call.
  std::shared_ptr<const station::StationSnapshot> take(std::vector<station::BoardRecord>& finished) {
    std::lock_guard lock(mutex_);
    posted_ = false;
    finished = std::move(finished_);
    finished_.clear();
    return std::move(pending_);
  }

 private:
  void post() {
    if (!posted_) posted_ = PostMessageA(window_, kEventsArrived, 0, 0) != 0;
  }

  const HWND& window_;
  std::mutex mutex_;
  std::shared_ptr<const station::StationSnapshot> pending_;
  std::vector<station::BoardRecord> finished_;
  bool posted_ = false;
};

MainWindow::MainWindow()
    : window_log_(std::make_unique<WindowLog>(frame_)),
      window_events_(std::make_unique<WindowEvents>(frame_)) {}

MainWindow::~MainWindow() {
  if (frame_ != nullptr) DestroyWindow(frame_);
  if (font_ != nullptr) DeleteObject(font_);
  if (icon_ != nullptr) DestroyIcon(icon_);
  if (small_icon_ != nullptr) DestroyIcon(small_icon_);
}

Log& MainWindow::log() { return *window_log_; }

station::StationEvents& MainWindow::events() { return *window_events_; }

bool MainWindow::create(HINSTANCE instance) {
  instance_ = instance;
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  icon_ = make_app_icon(32);
  small_icon_ = make_app_icon(16);

  WNDCLASSEXA frame_class{};
  frame_class.cbSize = sizeof frame_class;
  frame_class.lpfnWndProc = frame_proc;
  frame_class.hInstance = instance;
  frame_class.hIcon = icon_;
  frame_class.hIconSm = small_icon_;
  frame_class.hCursor = LoadCursor(nullptr, IDC_ARROW);
  frame_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_3DFACE + 1);
  frame_class.lpszClassName = kFrameClass;
  if (RegisterClassExA(&frame_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    return false;
  accelerators_ = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
  HMENU menu = LoadMenuA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
  status_text_ = load_string(instance, IDS_IDLE_MESSAGE);
  frame_ = CreateWindowExA(0, kFrameClass, "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                           1024, 720, nullptr, menu, instance, this);
  if (frame_ == nullptr) return false;
  set_file_path({});
  return true;
}

LRESULT CALLBACK MainWindow::frame_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams);
    self->frame_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcA(hwnd, message, wparam, lparam);
  return self->on_message(message, wparam, lparam);
}

LRESULT MainWindow::on_message(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE: {
      // The log: a multi-line edit control without wrapping, read-only so that only the
      // station changes it; the operator selects, scrolls and copies, and the caret shows.
      log_ = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "",
                             WS_CHILD | WS_VISIBLE | WS_HSCROLL | WS_VSCROLL | ES_MULTILINE |
                                 ES_AUTOHSCROLL | ES_AUTOVSCROLL | ES_NOHIDESEL | ES_READONLY,
                             0, 0, 0, 0, frame_, nullptr, instance_, nullptr);
      if (log_ == nullptr) return -1;
      SendMessageA(log_, EM_SETLIMITTEXT, kLimit, 0);
      SetWindowLongPtrA(log_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
      edit_proc_ = reinterpret_cast<WNDPROC>(
          SetWindowLongPtrA(log_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(log_proc)));
      // Courier, 16 units high, as the station's log has always looked.
      font_ = CreateFontA(16, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                          FF_MODERN | DEFAULT_PITCH, "Courier");
      if (font_ != nullptr) SendMessageA(log_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
      if (!panel_.create(instance_, frame_)) return -1;
      panel_.set_on_reset([this] { reset_shift_totals(); });
      shift_start_ = std::chrono::steady_clock::now();
      shift_since_ = clock_text();
      status_ = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP,
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
    case WM_SETFOCUS:
      SetFocus(log_);
      return 0;
    case WM_TIMER:
      if (wparam == kIndicatorTimer) update_indicators();
      if (wparam == kTotalsTimer) update_totals();
      return 0;
    case WM_CTLCOLORSTATIC:
      // The read-only log keeps a window's white background, not a dialog's grey.
      if (reinterpret_cast<HWND>(lparam) == log_) {
        HDC dc = reinterpret_cast<HDC>(wparam);
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
      }
      break;
    case WM_INITMENUPOPUP: {
      HMENU menu = reinterpret_cast<HMENU>(wparam);
      const bool barcode = shown_ != nullptr && shown_->barcode_mode == station::BarcodeMode::kOn;
      const bool running = shown_ != nullptr && shown_->run_status != station::RunStatus::kNoRun;
      // The status bar always stays; the adapter cannot change under a running board.
      CheckMenuItem(menu, ID_VIEW_STATUS_BAR, MF_BYCOMMAND | MF_CHECKED);
      CheckMenuItem(menu, ID_VIEW_BARCODE, MF_BYCOMMAND | (barcode ? MF_CHECKED : MF_UNCHECKED));
      EnableMenuItem(menu, ID_VIEW_INTERFACE, MF_BYCOMMAND | (running ? MF_GRAYED : MF_ENABLED));
      return 0;
    }
    case WM_MENUSELECT: {
      const UINT flags = HIWORD(wparam);
      if (flags == 0xFFFF && lparam == 0) break;  // the menu closes: WM_EXITMENULOOP follows
      menu_open_ = true;
      std::string prompt;
      if (!(flags & (MF_POPUP | MF_SEPARATOR))) prompt = menu_prompt(instance_, LOWORD(wparam));
      SendMessageA(status_, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(prompt.c_str()));
      return 0;
    }
    case WM_EXITMENULOOP:
      menu_open_ = false;
      show_message_pane();
      return 0;
    case WM_COMMAND:
      on_command(LOWORD(wparam));
      return 0;
    case kLogArrived:
      apply_queued_log();
      return 0;
    case kEventsArrived:
      apply_snapshot();
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
  return DefWindowProcA(frame_, message, wparam, lparam);
}

LRESULT CALLBACK MainWindow::log_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  return self->on_log_message(message, wparam, lparam);
}

LRESULT MainWindow::on_log_message(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_KEYDOWN:
      // Cursor, page, Home, End and Delete keys do nothing in the log; the accelerators have
      // been translated before, and typed characters still arrive as WM_CHAR.
      return 0;
    case WM_CHAR: {
      // Every character goes to the station's MAC entry, once per repeat; the log shows it
      // when the station echoes it. Enter arrives as 13, Backspace as 8.
      if (station_ != nullptr) {
        const char c = static_cast<char>(wparam & 0xFF);
        const int repeat = std::max(1, static_cast<int>(lparam & 0xFFFF));
        for (int i = 0; i < repeat; ++i) station_->post_key(c);
      }
      return 0;
    }
    case WM_PASTE:
    case WM_CUT:
    case WM_CLEAR:
    case WM_UNDO:
      return 0;
    default:
      return CallWindowProcA(edit_proc_, log_, message, wparam, lparam);
  }
}

void MainWindow::layout() {
  if (status_ == nullptr || log_ == nullptr) return;
  SendMessageA(status_, WM_SIZE, 0, 0);
  RECT client{}, bar{};
  GetClientRect(frame_, &client);
  GetWindowRect(status_, &bar);
  const int bar_height = bar.bottom - bar.top;
  RECT frame{};
  GetWindowRect(frame_, &frame);
  panel_.fit_to(frame.bottom - frame.top);
  const int top = panel_.height();
  MoveWindow(panel_.handle(), 0, 0, client.right, top, TRUE);
  MoveWindow(log_, 0, top, client.right, std::max(0L, client.bottom - bar_height - top), TRUE);

  // The message pane stretches; the progress (while a section is sent) and the three
  // indicators keep their widths at the right.
  HDC dc = GetDC(status_);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(status_, WM_GETFONT, 0, 0)));
  SIZE scrl{};
  GetTextExtentPoint32A(dc, "SCRL", 4, &scrl);
  SelectObject(dc, old);
  ReleaseDC(status_, dc);
  const int indicator = scrl.cx + 16;
  const int grip = GetSystemMetrics(SM_CXVSCROLL);
  std::vector<int> edges;
  int right = client.right - grip - 3 * indicator - (progress_shown_ ? kProgressWidth : 0);
  edges.push_back(std::max(right, 1));
  if (progress_shown_) edges.push_back(right += kProgressWidth);
  for (int i = 0; i < 3; ++i) edges.push_back(right += indicator);
  edges.back() = -1;
  SendMessageA(status_, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
  lock_keys_ = -1;  // the parts moved: write the indicators again
  update_indicators();
  if (!menu_open_) show_message_pane();
}

void MainWindow::show_message_pane() {
  SendMessageA(status_, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(status_text_.c_str()));
}

void MainWindow::update_indicators() {
  const int keys = (GetKeyState(VK_CAPITAL) & 1) | (GetKeyState(VK_NUMLOCK) & 1) << 1 |
                   (GetKeyState(VK_SCROLL) & 1) << 2;
  if (keys == lock_keys_) return;
  lock_keys_ = keys;
  const UINT first = progress_shown_ ? 2 : 1;
  const UINT ids[] = {IDS_INDICATOR_CAPS, IDS_INDICATOR_NUM, IDS_INDICATOR_SCRL};
  for (UINT i = 0; i < 3; ++i) {
    // A lock that is off shows an empty pane.
    std::string text = (keys >> i) & 1 ? load_string(instance_, ids[i]) : std::string();
    SendMessageA(status_, SB_SETTEXTA, first + i, reinterpret_cast<LPARAM>(text.c_str()));
  }
}

void MainWindow::show_progress(const station::StationSnapshot& snapshot) {
  const station::StepView* running = nullptr;
  if (snapshot.board && !snapshot.board->finished)
    for (const station::StepView& step : snapshot.board->steps)
      if (step.state == station::StepView::State::kRunning && step.total > 0) running = &step;
  if ((running != nullptr) != progress_shown_) {
    progress_shown_ = running != nullptr;
    layout();
  }
  if (running == nullptr) return;
  char text[64];
  std::snprintf(text, sizeof text, "%s %d%%", running->name(),
                static_cast<int>(std::min(running->done, running->total) * 100 / running->total));
  SendMessageA(status_, SB_SETTEXTA, 1, reinterpret_cast<LPARAM>(text));
}

void MainWindow::apply_snapshot() {
  std::vector<station::BoardRecord> finished;
  std::shared_ptr<const station::StationSnapshot> snapshot = window_events_->take(finished);
  if (snapshot != nullptr) {
    shown_ = std::move(snapshot);
    // Until the first tick sets the Status Pane text, the pane shows the idle "Ready".
    status_text_ = shown_->status_text.empty() ? load_string(instance_, IDS_IDLE_MESSAGE)
                                               : shown_->status_text;
    if (!menu_open_) show_message_pane();
    show_progress(*shown_);
    panel_.show_panel(present::make_panel(*shown_));
  }
  for (const station::BoardRecord& record : finished) {
    shift_.add(record.overall);
    if (today_) today_->add(record);
    update_totals();
    ++boards_finished_;
    if (on_board_finished_) on_board_finished_(boards_finished_);
  }
}

void MainWindow::set_records_file(const std::filesystem::path& file) {
  today_.emplace(file, present::today());
  update_totals();
}

void MainWindow::reset_shift_totals() {
  shift_ = present::Totals{};
  shift_start_ = std::chrono::steady_clock::now();
  shift_since_ = clock_text();
  update_totals();
}

void MainWindow::update_totals() {
  const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::steady_clock::now() - shift_start_);
  panel_.show_totals(present::totals_text(shift_, present::boards_per_hour(shift_.boards, elapsed),
                                       shift_since_, today_ ? today_->totals() : present::Totals{}));
}

void MainWindow::apply_queued_log() {
  for (const WindowLog::Operation& operation : window_log_->take()) {
    if (operation.erase) {
      erase_last();
    } else {
      append_text(operation.text);
    }
  }
}

void MainWindow::append_text(std::string_view text) {
  if (text.empty()) return;
  DWORD start = 0, end = 0;
  SendMessageA(log_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  const bool follow = start == end;
  std::size_t length = static_cast<std::size_t>(GetWindowTextLengthA(log_));
  std::string added(text.size() > kLimit - kTrimSlack ? text.substr(text.size() - (kLimit - kTrimSlack))
                                                      : text);
  std::size_t trimmed = 0;
  if (length + added.size() > kLimit) {
    // The oldest whole lines go until kTrimSlack is free again, so that trimming happens once
    // per batch of text and the newest text always stays.
    const std::size_t need = length + added.size() - (kLimit - kTrimSlack);
    std::string old = log_bytes();
    std::size_t newline = need <= old.size() ? old.find('\n', need - 1) : std::string::npos;
    trimmed = newline == std::string::npos ? old.size() : newline + 1;
    SendMessageA(log_, EM_SETSEL, 0, static_cast<LPARAM>(trimmed));
    SendMessageA(log_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(""));
    length -= trimmed;
  }
  // A zero byte would end the text early: it shows as nothing, as other control bytes do.
  std::replace(added.begin(), added.end(), '\0', ' ');
  SendMessageA(log_, EM_SETSEL, length, static_cast<LPARAM>(length));
  SendMessageA(log_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(added.c_str()));
  if (follow) {
    SendMessageA(log_, EM_SCROLLCARET, 0, 0);
  } else {
    // The operator's selection stays where it was in the text.
    const DWORD shift = static_cast<DWORD>(trimmed);
    SendMessageA(log_, EM_SETSEL, start > shift ? start - shift : 0, end > shift ? end - shift : 0);
  }
}

void MainWindow::erase_last() {
  std::string bytes = log_bytes();
  if (bytes.empty()) return;
  std::size_t n = bytes.size() >= 2 && bytes.compare(bytes.size() - 2, 2, "\r\n") == 0 ? 2 : 1;
  SendMessageA(log_, EM_SETSEL, bytes.size() - n, static_cast<LPARAM>(bytes.size()));
  SendMessageA(log_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(""));
}

std::string MainWindow::log_bytes() const {
  std::string bytes(static_cast<std::size_t>(GetWindowTextLengthA(log_)) + 1, '\0');
  int n = GetWindowTextA(log_, bytes.data(), static_cast<int>(bytes.size()));
  bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return bytes;
}

void MainWindow::set_log_bytes(std::string_view bytes) {
  SetWindowTextA(log_, "");
  append_text(bytes);
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
    case ID_FILE_OPEN:
      open_log();
      break;
    case ID_FILE_SAVE:
      save_log();
      break;
    case ID_EDIT_COPY:
      SendMessageA(log_, WM_COPY, 0, 0);
      break;
    case ID_VIEW_INTERFACE:
      show_interface_dialog();
      break;
    case ID_VIEW_BARCODE:
      toggle_barcode();
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

void MainWindow::start_up() {
  if (station_ != nullptr) station_->post_start_up();
}

void MainWindow::set_file_path(const std::string& path) {
  file_path_ = path;
  std::string caption = (path.empty() ? std::string() : file_name_of(path)) + " - " + kTitle;
  SetWindowTextA(frame_, caption.c_str());
}

void MainWindow::new_log() {
  // Text the station sent before the command belongs to the old log.
  apply_queued_log();
  SetWindowTextA(log_, "");
  set_file_path({});
  start_up();
}

void MainWindow::open_at_start(const std::string& path) {
  if (path.empty() || !open_file(path)) {
    // A file that could not be opened leaves a new log; the start-up runs all the same.
    if (!path.empty()) set_file_path({});
    start_up();
  }
}

// The platform's Open or Save As dialog over all files; empty when the operator cancelled.
std::string MainWindow::choose_file(bool save) const {
  char path[MAX_PATH] = {};
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = frame_;
  dialog.lpstrFilter = "All Files (*.*)\0*.*\0";
  dialog.lpstrFile = path;
  dialog.nMaxFile = MAX_PATH;
  dialog.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                 (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
  bool chosen = save ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog);
  return chosen ? path : std::string();
}

void MainWindow::open_log() {
  std::string path = choose_file(false);
  if (!path.empty()) open_file(path);
}

bool MainWindow::open_file(const std::string& path) {
  apply_queued_log();
  std::string bytes;
  bool exists = false;
  int error = platform::read_small_file(path, kLimit, bytes, exists);
  if (error == EFBIG) {
    MessageBoxA(frame_, "The file is too large to open.", kTitle, MB_OK | MB_ICONEXCLAMATION);
    new_log();
    return false;
  }
  if (error != 0 || !exists) {
    std::string text = path + "\nThe file could not be opened: " +
                       std::strerror(exists ? error : ENOENT) + ".";
    MessageBoxA(frame_, text.c_str(), kTitle, MB_OK | MB_ICONEXCLAMATION);
    return false;
  }
  set_log_bytes(bytes);
  set_file_path(path);
  // As after New, the station's start-up runs again.
  start_up();
  return true;
}

void MainWindow::save_log() {
  std::string path = file_path_;
  if (path.empty()) path = choose_file(true);
  if (!path.empty()) save_to(path);
}

bool MainWindow::save_to(const std::string& path) {
  apply_queued_log();
  // Written beside the file and renamed over it, so a failed save never leaves half a log.
  if (int error = platform::replace_file(path, path + ".tmp", log_bytes()); error != 0) {
    std::string text = path + "\nThe log could not be saved: " + std::strerror(error) + ".";
    MessageBoxA(frame_, text.c_str(), kTitle, MB_OK | MB_ICONEXCLAMATION);
    return false;
  }
  set_file_path(path);
  return true;
}

void MainWindow::show_interface_dialog() {
  if (station_ == nullptr) return;
  std::shared_ptr<const station::StationSnapshot> shown = station_->snapshot();
  InterfaceChoice choice;
  choice.adapters = shown->adapters.entries;
  choice.selected = shown->selected_index;
  choice.digits = shown->digits;
  choice.apply = [this](int index, const MacDigits::Digits& digits) {
    // The station refuses the change while a run holds the adapter.
    if (station_->snapshot()->run_status != station::RunStatus::kNoRun) return false;
    station_->post_apply_interface(index, digits);
    return true;
  };
  run_interface_dialog(instance_, frame_, choice);
}

void MainWindow::toggle_barcode() {
  if (station_ != nullptr) station_->post_toggle_barcode();
}

int MainWindow::run() {
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (frame_ != nullptr && TranslateAcceleratorA(frame_, accelerators_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace skav::windows::gui

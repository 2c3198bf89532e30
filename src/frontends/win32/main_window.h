#pragma once

#include <windows.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/log.h"
#include "core/station/station_events.h"
#include "present/log_document.h"
#include "present/log_file.h"
#include "present/mailbox.h"
#include "present/panel.h"
#include "present/totals.h"
#include "frontends/win32/operator_panel.h"

namespace skav::station {
class Station;
}

namespace skav::windows::gui {

// The station's window on Win32's own controls: the operator view's panel (the word, the board,
// the steps, the shift's totals) above the log in a read-only edit control, the menu and accelerators of resource
// 128, and a status bar with the message pane and the CAP, NUM and SCRL indicators (the real
// lock-key states). It renders the station's log and snapshots and posts the operator's
// commands; no station logic lives here.
class MainWindow {
 public:
  // The log's limit in characters; past it the oldest lines go, kTrimSlack at a time.
  static constexpr std::size_t kLimit = present::LogDocument::kLimit;
  static constexpr std::size_t kTrimSlack = present::LogDocument::kTrimSlack;

  MainWindow();
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates the window (hidden). False when the system refuses.
  bool create(HINSTANCE instance);
  HWND handle() const { return frame_; }

  // The log and the events to hand to the station. Any thread may call them: the news is
  // queued and applied on the window's thread, which a caller never waits for.
  Log& log();
  station::StationEvents& events();
  // The station whose commands the window carries out; none: the commands only touch the
  // window. Must outlive the window's use of it or be reset to none first.
  void set_station(station::Station* station) { station_ = station; }

  // At program start: opens `path` as the log (none: a new log) and runs the station's start-up.
  void open_at_start(const std::string& path);
  // Runs the message loop until the window closes; the exit code.
  int run();

  // Called (on the window's thread) each time a board's run finished, with the count so far.
  void set_on_board_finished(std::function<void(int count)> handler) {
    on_board_finished_ = std::move(handler);
  }
  // The production records whose boards of today the panel counts; none: today's count starts
  // at nothing.
  void set_records_file(const std::filesystem::path& file);
  const OperatorPanel& panel() const { return panel_; }
  // A line at the panel's foot for what the operator must know while the station runs.
  void set_notice(const std::string& notice) {
    panel_.set_notice(notice);
    layout();
  }

  // Writes a picture of the whole window, frame included, to a PNG file. False: not written.
  bool save_picture(const std::wstring& file) const;

 private:
  static LRESULT CALLBACK frame_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK log_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT on_message(UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT on_log_message(UINT message, WPARAM wparam, LPARAM lparam);
  void on_command(int command);
  void layout();

  // The log control.
  void append_text(std::string_view text);
  void erase_last();
  void set_log_bytes(std::string_view bytes);
  void apply_queued_log();

  // The snapshot and its view.
  void apply_snapshot();
  void show_message_pane();
  void update_indicators();
  void show_progress(const station::StationSnapshot& snapshot);
  void reset_shift_totals();
  void update_totals();

  // Commands.
  void new_log();
  std::string choose_file(bool save) const;
  void open_log();
  bool open_file(const std::string& path);
  void save_log();
  bool save_to(const std::string& path);
  void start_up();
  void show_caption();
  void show_interface_dialog();
  void toggle_barcode();

  HINSTANCE instance_ = nullptr;
  HWND frame_ = nullptr;
  HWND log_ = nullptr;
  HWND status_ = nullptr;
  HACCEL accelerators_ = nullptr;
  HFONT font_ = nullptr;
  HICON icon_ = nullptr;
  HICON small_icon_ = nullptr;
  WNDPROC edit_proc_ = nullptr;

  std::unique_ptr<present::LogMailbox> window_log_;
  std::unique_ptr<present::StationMailbox> window_events_;
  // The log's bytes, which the control mirrors (zero bytes shown as spaces).
  present::LogDocument document_;
  station::Station* station_ = nullptr;

  std::shared_ptr<const station::StationSnapshot> shown_;  // the latest snapshot rendered
  OperatorPanel panel_;
  // The shift's count (since the window opened or the operator's Reset) and today's.
  present::TotalsModel totals_;
  std::string status_text_;   // the Status Pane text ("Ready" before the first)
  bool menu_open_ = false;    // a menu prompt covers the message pane
  bool progress_shown_ = false;
  int lock_keys_ = -1;        // the lock-key states the indicators show (bits CAP, NUM, SCRL)
  present::LogFile file_;
  int boards_finished_ = 0;
  std::function<void(int)> on_board_finished_;
};

}  // namespace skav::windows::gui

#pragma once

#include <windows.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/log.h"
#include "core/station/station_events.h"
#include "present/font_sizes.h"
#include "present/log_document.h"
#include "present/log_file.h"
#include "present/mailbox.h"
#include "present/panel.h"
#include "present/totals.h"
#include "frontends/win32/operator_panel.h"
#include "frontends/win32/window_choices.h"

// The line's headers come after <windows.h> only through the window's own source file.
namespace skav::line {
class LineEvents;
class PortInput;
struct LineSnapshot;
}  // namespace skav::line
namespace skav::present {
class LineMailbox;
}
namespace skav::station {
class Station;
}

namespace skav::windows::gui {

// The station's window on Win32's own controls: the operator view's panel (the word, the board,
// the steps, the shift's totals) above the log in a read-only edit control, the menu and accelerators of resource
// 128, and a status bar with the message pane and the CAP, NUM and SCRL indicators (the real
// lock-key states). It renders the station's log and snapshots and the line's snapshots, and
// posts the operator's commands; no station or line logic lives here: the line counts the
// boards and chooses the port the operator's typing goes to. View, Operator Panel (F9) folds the panel away, Zoom
// In and Zoom Out size the log's font, Sound calls the operator with the system's error sound
// when a board fails or times out; these choices are kept per user (WindowChoices).
// A station with several ports (one station each) gets a tile per port in place of the
// board's panel and steps, the totals of all ports beside them, and one log per port: the
// log, the status bar, File's commands and the MAC entry are the selected port's.
class MainWindow {
 public:
  // The log's limit in characters; past it the oldest lines go, kTrimSlack at a time.
  static constexpr std::size_t kLimit = present::LogDocument::kLimit;
  static constexpr std::size_t kTrimSlack = present::LogDocument::kTrimSlack;

  // `choices`: where the per-user choices are kept (a test's own key).
  explicit MainWindow(WindowChoices choices = WindowChoices());
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates the window (hidden). False when the system refuses.
  bool create(HINSTANCE instance);
  HWND handle() const { return frame_; }

  // Several ports: `count` (from 2) ports, each with its log, events and tile. Call once,
  // after create() and before the stations are set; the window starts with one port.
  void set_port_count(int count);
  int port_count() const { return static_cast<int>(ports_.size()); }
  // The log and the events to hand to port `port`'s station (ports exist from create() on).
  // Any thread may call them: the news is queued and applied on the window's thread, which a
  // caller never waits for.
  Log& log(int port = 0);
  station::StationEvents& events(int port = 0);
  // Where the window's commands go, port by port: the line (none: the commands only touch the
  // window). Must outlive the window's use of it or be reset to none first.
  void set_input(line::PortInput* input) { input_ = input; }
  // The line's snapshots for this window (the line's events): the tiles' counts, the shift's
  // and today's totals, and the port the operator's typing goes to come from them. Any thread
  // may hand them in; they are shown on the window's thread.
  line::LineEvents& line_events();
  // Port `port`'s name (its adapter) for its tile (empty: unchanged).
  void set_port_name(int port, const std::string& name);
  // Shows port `port`: its tile is framed, the log and the status bar are its own, File's
  // commands and the MAC entry go to it.
  void select_port(int port);
  int selected_port() const { return selected_; }
  // Port `port`'s log control.
  HWND log_window(int port) const { return ports_[static_cast<std::size_t>(port)]->log; }
  // Whether the Interface dialog offers a choice of several ports, kept per user for the next
  // start (not for a simulation, whose ports come from its options).
  void set_ports_choice(bool offered) { ports_choice_ = offered; }

  // View, Operator Panel: unfolded or folded (with tiles: compact).
  void set_panel_shown(bool shown);
  bool panel_shown() const { return panel_shown_; }
  // View, Zoom In and Zoom Out: every log's font `points` larger or smaller, within the limits.
  void zoom_log(int points);
  int log_points() const { return log_points_; }
  // What calls the operator when a board fails or times out (and View, Sound is on); by
  // default the system's error sound.
  void set_alarm(std::function<void()> alarm) { alarm_ = std::move(alarm); }
  bool sound_on() const { return sound_; }
  // The shift's totals over all ports, as the line's latest snapshot gave them.
  present::Totals shift_totals() const { return totals_.shift(); }
  // What asks the operator a yes-or-no question (UTF-8); by default a message box whose default
  // answer is No. Reset asks it before the line is asked to start the shift's totals again.
  void set_confirm(std::function<bool(const std::string& question)> confirm) { confirm_ = std::move(confirm); }
  // The status bar's part that shows the verdict while the panel is folded with one port; none
  // while the panel shows it.
  std::optional<int> verdict_part() const;

  // At program start: opens `path` as the log (none: a new log) and runs the station's start-up.
  void open_at_start(const std::string& path);
  // Runs the message loop until the window closes; the exit code.
  int run();

  // Called (on the window's thread) each time a board's run finished, with the count so far.
  void set_on_board_finished(std::function<void(int count)> handler) {
    on_board_finished_ = std::move(handler);
  }
  const OperatorPanel& panel() const { return panel_; }
  // A line at the panel's foot for what the operator must know while the station runs.
  void set_notice(const std::string& notice) {
    panel_.set_notice(notice);
    layout();
  }
  // The name of the selected port's log's file, empty while it has none.
  const std::string& file_path() const { return selected().file.path(); }

  // Writes a picture of the whole window, frame included, to a PNG file. False: not written.
  bool save_picture(const std::wstring& file) const;

 private:
  // One port's log, events and what the window shows of it.
  struct Port {
    HWND log = nullptr;
    std::unique_ptr<present::LogMailbox> log_mailbox;
    std::unique_ptr<present::StationMailbox> events_mailbox;
    // The log's bytes, which the control mirrors as UTF-16 (zero bytes shown as spaces) up to
    // shown_bytes: a character whose rest has not arrived waits. The control's positions count
    // UTF-16 units, shown_units of them.
    present::LogDocument document;
    std::size_t shown_bytes = 0;
    std::size_t shown_units = 0;
    present::LogFile file;
    std::shared_ptr<const station::StationSnapshot> shown;  // the latest snapshot rendered
    std::string name;  // the adapter, for its tile; empty: "Port N"
    int refusals = 0;  // refused entries the operator was called for
  };
  bool add_port();
  Port& selected() const { return *ports_[static_cast<std::size_t>(selected_)]; }
  void set_log_font();

  static LRESULT CALLBACK frame_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK log_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT on_message(UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT on_log_message(HWND log, UINT message, WPARAM wparam, LPARAM lparam);
  void on_command(int command);
  void layout();

  // A port's log.
  void append_text(Port& port, std::string_view text);
  void erase_last(Port& port);
  void set_log_bytes(Port& port, std::string_view bytes);
  void clear_log(Port& port);
  void apply_queued_log(int port);

  // The snapshot and its view.
  void apply_snapshot(int port);
  void board_finished(const station::BoardRecord& record);
  // The line's latest snapshot: the totals, the tiles' counts, and the port shown when another
  // one asks for an address.
  void show_line();
  void show_message_pane();
  void update_indicators();
  void show_progress();
  // Reset: asks first, then asks the line to start the shift's count again; the totals follow
  // the line's next snapshot.
  void reset_shift_totals();
  void update_totals();
  // The status bar's parts after the message pane: the verdict's (folded, one port), the
  // progress's (while a section moves), then the three indicators.
  int progress_part() const { return verdict_part() ? 2 : 1; }
  int first_indicator_part() const { return progress_part() + (progress_shown_ ? 1 : 0); }
  void draw_verdict_part(const DRAWITEMSTRUCT& item) const;
  // Every tile from the ports' latest snapshots: the tiles share what shortens the addresses.
  void update_tiles();
  // The operator is called for a failed board or a refused entry, when View, Sound is on.
  void call_operator();

  // Commands.
  void new_log();
  std::string choose_file(bool save) const;
  void show_file_message(const std::string& text) const;
  void open_log();
  bool open_file(const std::string& path);
  void save_log();
  bool save_to(const std::string& path);
  void start_up(int port);
  void show_caption();
  void show_interface_dialog();
  void toggle_barcode();

  HINSTANCE instance_ = nullptr;
  HWND frame_ = nullptr;
  HWND status_ = nullptr;
  HACCEL accelerators_ = nullptr;
  HFONT font_ = nullptr;
  HICON icon_ = nullptr;
  HICON small_icon_ = nullptr;
  WNDPROC edit_proc_ = nullptr;

  std::vector<std::unique_ptr<Port>> ports_;
  int selected_ = 0;
  line::PortInput* input_ = nullptr;
  std::unique_ptr<present::LineMailbox> line_mailbox_;
  std::shared_ptr<const line::LineSnapshot> line_;  // the latest shown
  bool ports_choice_ = false;
  WindowChoices choices_;
  bool panel_shown_ = true;
  bool sound_ = true;
  int log_points_ = present::kLogPoints;
  std::function<void()> alarm_;
  std::function<bool(const std::string&)> confirm_;

  OperatorPanel panel_;
  // The line's counts: each port's and the shift's (since the line started or the operator's
  // Reset) and today's.
  present::TotalsView totals_;
  std::string status_text_;   // the Status Pane text ("Ready" before the first)
  bool menu_open_ = false;    // a menu prompt covers the message pane
  bool progress_shown_ = false;
  int lock_keys_ = -1;        // the lock-key states the indicators show (bits CAP, NUM, SCRL)
  int boards_finished_ = 0;
  std::function<void(int)> on_board_finished_;
};

}  // namespace skav::windows::gui

#pragma once

#include <QMainWindow>
#include <QString>

#include <QStringList>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <optional>
#include <vector>

#include "core/log.h"
#include "core/station/station_events.h"
#include "line/line.h"
#include "present/log_file.h"
#include "present/totals.h"

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QSettings;
class QStackedWidget;

namespace skav::station {
class Station;
}

namespace skav::gui {

class AlarmTone;
class EventBridge;
class LogBridge;
class LogView;
class OperatorPanel;
class PortTile;
class VerdictPane;

// The station's window: over the log, the operator's panel (the board's state in one word, the
// run's steps, the shift's totals), which View, Operator Panel folds away; the menus and
// accelerators; the status bar with the Status Pane text, the lock-key indicators and, while
// the panel is folded, a progress bar while a section is transferred. The log's font size, the
// sound and the panel's fold are remembered per user.
// A station with several ports (one station each) gets a tile per port in place of the
// board's panel and steps, the totals of all ports beside them, and one log per port: the
// log, the status bar, File's commands and the MAC entry are the selected port's.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // Several ports: `count` (from 2) ports, each with its log, events and tile. Call once,
  // before the stations are set; the window starts with one port, without tiles.
  void set_port_count(int count);
  int port_count() const { return static_cast<int>(ports_.size()); }
  // The log and the events to hand to port `port`'s station; they live as long as the window.
  Log& log(int port = 0);
  station::StationEvents& events(int port = 0);
  // Where the window's commands go, port by port: the line (none: the commands only touch the
  // window). Must outlive the window or be reset to none first.
  void set_input(line::PortInput* input);
  // The line's snapshots for this window (the line's events): the tiles' counts, the shift's
  // and today's totals, and the port the operator's typing goes to come from them. Any thread
  // hands in; the window shows the latest on its own thread.
  line::LineEvents& line_events();
  // Port `port`'s name (its adapter) for its tile.
  void set_port_name(int port, const QString& name);
  // Shows port `port`: its tile is framed, the log and the status bar are its own, File's
  // commands and the MAC entry go to it.
  void select_port(int port);
  int selected_port() const { return selected_; }
  // Port `port`'s tile; none with one port.
  PortTile* port_tile(int port) const;
  // Whether the Interface dialog offers a choice of several ports and stores it per user (not
  // for a simulation, whose ports come from its options).
  void set_ports_choice(bool offered) { ports_choice_ = offered; }
  // The adapters (system names) the Interface dialog chose as ports for the next start; fewer
  // than two: one port, the stored NetIF.
  static QStringList stored_ports();
  static void store_ports(const QStringList& adapters);

  // Ctrl+N: empties the log, resets the caption and repeats the station's start-up.
  void new_log();
  // Ctrl+O: asks for a file, then open_file().
  void open_log();
  // Loads a file as the log's bytes. A file over the log's limit is refused with
  // "The file is too large to open." and a new log follows. False: not loaded.
  bool open_file(const QString& path);
  // At program start: opens `path` as the (first port's) log (none: a new log) and runs every
  // port's start-up.
  void open_at_start(const QString& path);
  // Ctrl+S: saves to the log's file, asking for one (Save As) while it has none.
  void save_log();
  // Writes the log's bytes to `path` and makes it the log's file. False: not written (the
  // operator was told).
  bool save_to(const QString& path);
  void show_about();
  // View, Interface: the Network Interface dialog, applied to the station on OK. With several
  // ports the first port's station takes the address and keeps its adapter; the choice of
  // ports takes effect at the next start.
  void show_interface_dialog();
  // View, Barcode (on every port).
  void toggle_barcode();
  // View, Zoom In and Zoom Out: the log's font a point larger or smaller.
  void zoom_log(int points);
  // View, Reset Shift Totals and the Reset button: asks the operator first (see set_confirm),
  // then reset_shift_totals(). True: asked for.
  bool ask_reset_shift_totals();
  // Asks the line to start the shift's count again, without asking the operator; the totals
  // follow the line's next snapshot.
  void reset_shift_totals();
  // What asks the operator a yes-or-no question (the text); by default a message box whose
  // default answer is No. Tests answer it themselves.
  void set_confirm(std::function<bool(const QString& question)> confirm) { confirm_ = std::move(confirm); }
  // What calls the operator when a board fails or times out (and View, Sound is on); by
  // default a tone.
  void set_alarm(std::function<void()> alarm) { alarm_ = std::move(alarm); }

  // The selected port's log, or port `port`'s.
  LogView* log_view() const;
  LogView* log_view(int port) const;
  // What the message pane shows now: a menu prompt while one is highlighted, else the
  // Status Pane text ("Ready" before the first one).
  QString message_text() const;
  QProgressBar* progress_bar() const { return progress_; }
  QAction* interface_action() const { return interface_action_; }
  QAction* barcode_action() const { return barcode_action_; }
  QAction* status_bar_action() const { return status_bar_action_; }
  QAction* panel_action() const { return panel_action_; }
  QAction* zoom_in_action() const { return zoom_in_action_; }
  QAction* zoom_out_action() const { return zoom_out_action_; }
  QAction* sound_action() const { return sound_action_; }
  QAction* reset_totals_action() const { return reset_totals_action_; }
  QMenu* view_menu() const { return view_menu_; }
  OperatorPanel* operator_panel() const { return panel_; }
  // The status bar's verdict, shown while the panel is folded with one port.
  VerdictPane* verdict_pane() const { return verdict_pane_; }
  // The shift's totals over all ports.
  present::Totals shift_totals() const { return totals_.shift(); }
  // The log's font size in points.
  int log_points() const;
  // The name of the (selected port's) log's file, empty while it has none.
  const QString& file_path() const;
  // Boards whose run finished since the window opened.
  int boards_finished() const { return boards_finished_; }

 Q_SIGNALS:
  void board_finished(int count);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  // One port's log, events and what the window shows of it.
  struct Port {
    LogView* view = nullptr;
    LogBridge* log = nullptr;
    EventBridge* events = nullptr;
    present::LogFile file;
    bool progress_active = false;
    QString progress_format;
    int progress_percent = 0;
    std::string name;    // the adapter, for its tile; empty: "Port N"
    int refusals = 0;    // refused entries the operator was called for
  };

  void add_port();
  Port& selected() const { return *ports_[static_cast<std::size_t>(selected_)]; }
  void create_menus();
  void create_view_commands();
  // Port `port`'s latest snapshot, as the line's snapshot brings it: the panel (one port) and
  // the operator called for a refused entry.
  void show_snapshot(int port, const station::StationSnapshot& snapshot);
  void count_board(const station::BoardRecord& record);
  class LineFeed;
  void show_line();
  // Every tile from the line's latest snapshot: the tiles share what shortens the addresses.
  void update_tiles();
  // The operator is called for a failed board or a refused entry, when View, Sound is on.
  void call_operator();
  void update_totals();
  void set_panel_shown(bool shown);
  void show_progress(bool active);
  void show_status_text(const std::shared_ptr<const station::StationSnapshot>& snapshot);
  void create_status_bar();
  // The caption and file_path() for the selected port's log's file.
  void show_caption();
  void update_barcode_check();
  // Port `port`'s latest snapshot as the line's last snapshot has it (null before the first).
  const station::StationSnapshot* port_snapshot(int port) const;
  // Posts port `port`'s start-up (after New, Open and at program start).
  void start_up(int port);

  std::vector<std::unique_ptr<Port>> ports_;
  int selected_ = 0;
  QStackedWidget* logs_ = nullptr;
  line::PortInput* input_ = nullptr;
  std::unique_ptr<LineFeed> line_feed_;
  std::shared_ptr<const line::LineSnapshot> line_;  // the latest shown
  bool ports_choice_ = false;

  QLabel* message_pane_ = nullptr;
  QProgressBar* progress_ = nullptr;
  VerdictPane* verdict_pane_ = nullptr;
  QMenu* view_menu_ = nullptr;
  QAction* interface_action_ = nullptr;
  QAction* barcode_action_ = nullptr;
  QAction* status_bar_action_ = nullptr;
  QAction* panel_action_ = nullptr;
  QAction* zoom_in_action_ = nullptr;
  QAction* zoom_out_action_ = nullptr;
  QAction* sound_action_ = nullptr;
  QAction* reset_totals_action_ = nullptr;
  OperatorPanel* panel_ = nullptr;
  bool progress_active_ = false;

  present::TotalsView totals_;
  std::function<void()> alarm_;
  std::function<bool(const QString&)> confirm_;
  AlarmTone* tone_ = nullptr;

  QString file_path_;  // the selected port's file, as file_path() gives it
  int boards_finished_ = 0;
  int start_ups_ = 0;
};

}  // namespace skav::gui

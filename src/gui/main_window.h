#pragma once

#include <QMainWindow>
#include <QString>

#include "core/log.h"
#include "core/station/station_events.h"

class QAction;
class QLabel;
class QMenu;
class QProgressBar;

namespace skav::station {
class Station;
}

namespace skav::gui {

class EventBridge;
class LogBridge;
class LogView;

// The station's window: the log, the menus and accelerators, the status bar with the Status
// Pane text, the lock-key indicators and a progress bar while a section is transferred.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // The log and the events to hand to the station; they live as long as the window.
  Log& log();
  station::StationEvents& events();
  // The station whose commands the window carries out (none: the commands only touch the
  // window). Must outlive the window or be reset to none first.
  void set_station(station::Station* station);

  // Ctrl+N: empties the log, resets the caption and repeats the station's start-up.
  void new_log();
  // Ctrl+O: asks for a file, then open_file().
  void open_log();
  // Loads a file as the log's bytes. A file over the log's limit is refused with
  // "The file is too large to open." and a new log follows. False: not loaded.
  bool open_file(const QString& path);
  // At program start: opens `path` as the log (none: a new log) and runs the station's start-up.
  void open_at_start(const QString& path);
  // Ctrl+S: saves to the log's file, asking for one (Save As) while it has none.
  void save_log();
  // Writes the log's bytes to `path` and makes it the log's file. False: not written (the
  // operator was told).
  bool save_to(const QString& path);
  void show_about();
  // View, Interface: the Network Interface dialog, applied to the station on OK.
  void show_interface_dialog();
  // View, Barcode.
  void toggle_barcode();

  LogView* log_view() const { return log_view_; }
  // What the message pane shows now: a menu prompt while one is highlighted, else the
  // Status Pane text ("Ready" before the first one).
  QString message_text() const;
  QProgressBar* progress_bar() const { return progress_; }
  QAction* interface_action() const { return interface_action_; }
  QAction* barcode_action() const { return barcode_action_; }
  QAction* status_bar_action() const { return status_bar_action_; }
  QMenu* view_menu() const { return view_menu_; }
  // The name of the log's file, empty while it has none.
  const QString& file_path() const { return file_path_; }
  // Boards whose run finished since the window opened.
  int boards_finished() const { return boards_finished_; }

 Q_SIGNALS:
  void board_finished(int count);

 private:
  void create_menus();
  void create_status_bar();
  void set_file_path(const QString& path);
  void update_barcode_check();
  void key_char(char c);
  // Posts the station's start-up (after New, Open and at program start).
  void start_up();

  LogView* log_view_ = nullptr;
  LogBridge* log_bridge_ = nullptr;
  EventBridge* event_bridge_ = nullptr;
  station::Station* station_ = nullptr;

  QLabel* message_pane_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QMenu* view_menu_ = nullptr;
  QAction* interface_action_ = nullptr;
  QAction* barcode_action_ = nullptr;
  QAction* status_bar_action_ = nullptr;
  QString file_path_;
  int boards_finished_ = 0;
  int start_ups_ = 0;
};

}  // namespace skav::gui

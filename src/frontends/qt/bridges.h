#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <string_view>

#include "core/log.h"
#include "core/station/station_events.h"
#include "present/mailbox.h"

namespace skav::gui {

class LogView;

// The station's log as the window shows it, through the model's mailbox: any thread may append
// or erase, in call order, and the window's thread applies the operations, which a caller never
// waits for. Calls made on the window's thread apply everything queued at once.
class LogBridge : public QObject, public Log {
  Q_OBJECT

 public:
  explicit LogBridge(LogView& view, QObject* parent = nullptr);

  void append(std::string_view text) override;
  void erase_last() override;
  // Applies every queued operation to the view. Window thread only.
  void flush();

 private:
  bool wake();
  void flush_if_on_window_thread();

  LogView& view_;
  present::LogMailbox box_;
};

// The station's events as signals on the window's thread, through the model's mailbox: when
// several snapshots arrive before the window's thread runs, the latest wins.
class EventBridge : public QObject, public station::StationEvents {
  Q_OBJECT

 public:
  explicit EventBridge(QObject* parent = nullptr);

  void on_snapshot(std::shared_ptr<const station::StationSnapshot> snapshot) override;
  void on_board_finished(const station::BoardRecord& record) override;
  // Emits the signals for everything that arrived. Window thread only.
  void flush();
  // The latest snapshot the window was told of (none before the first).
  std::shared_ptr<const station::StationSnapshot> latest() const { return shown_; }

 Q_SIGNALS:
  void status_text_changed(const QString& text);
  // The running step's transfer: `label` "kernel 25%", `percent` 0-100.
  void progress_changed(const QString& label, int percent);
  void progress_ended();
  void run_active_changed(bool active);
  void board_finished(const station::BoardRecord& record);

 private:
  bool wake();

  present::StationMailbox box_;
  // Window thread only.
  std::shared_ptr<const station::StationSnapshot> shown_;
  bool progress_shown_ = false;
};

}  // namespace skav::gui

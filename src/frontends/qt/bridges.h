#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/log.h"
#include "core/station/station_events.h"

namespace skav::gui {

class LogView;

// The station's log as the window shows it. Any thread may append or erase: the operations
// are queued in call order and applied on the window's thread, which a caller never waits
// for. Calls made on the window's thread apply everything queued at once.
class LogBridge : public QObject, public Log {
  Q_OBJECT

 public:
  explicit LogBridge(LogView& view, QObject* parent = nullptr);

  void append(std::string_view text) override;
  void erase_last() override;
  // Applies every queued operation to the view. Window thread only.
  void flush();

 private:
  struct Operation {
    bool erase = false;
    std::string text;
  };
  void queue(bool erase, std::string_view text);

  LogView& view_;
  std::mutex mutex_;
  std::vector<Operation> pending_;
  std::vector<Operation> applying_;  // kept to reuse its storage
  bool posted_ = false;
};

// The station's events as signals on the window's thread. Any thread may call; when several
// snapshots arrive before the window's thread runs, the latest wins.
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
  void snapshot_changed(std::shared_ptr<const station::StationSnapshot> snapshot);
  void status_text_changed(const QString& text);
  // `percent` 0-100 of the running step's current data phase.
  void progress_changed(const QString& step, int percent);
  void progress_ended();
  void run_active_changed(bool active);
  void board_finished(const station::BoardRecord& record);

 private:
  void post(std::unique_lock<std::mutex>& lock);

  std::mutex mutex_;
  bool posted_ = false;
  std::shared_ptr<const station::StationSnapshot> pending_;
  std::vector<station::BoardRecord> finished_;
  // Window thread only.
  std::shared_ptr<const station::StationSnapshot> shown_;
  bool progress_shown_ = false;
};

}  // namespace skav::gui

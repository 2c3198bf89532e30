#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
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

// The station's events as signals on the window's thread. Any thread may call; the latest
// status text and progress win when several arrive before the window's thread runs.
class EventBridge : public QObject, public station::StationEvents {
  Q_OBJECT

 public:
  explicit EventBridge(QObject* parent = nullptr);

  void on_status_text(const std::string& text) override;
  void on_progress(const std::string& section, std::uint64_t done, std::uint64_t total) override;
  void on_progress_end() override;
  void on_run_active(bool active) override;
  void on_board_finished(const station::BoardRecord& record) override;
  // Emits the signals for everything that arrived. Window thread only.
  void flush();

 Q_SIGNALS:
  void status_text_changed(const QString& text);
  // `percent` 0-100 of the section's bytes.
  void progress_changed(const QString& section, int percent);
  void progress_ended();
  void run_active_changed(bool active);
  void board_finished();

 private:
  void post(std::unique_lock<std::mutex>& lock);

  std::mutex mutex_;
  bool posted_ = false;
  bool status_changed_ = false;
  std::string status_;
  enum class Progress { kUnchanged, kShown, kEnded } progress_ = Progress::kUnchanged;
  std::string section_;
  int percent_ = 0;
  bool run_active_changed_ = false;
  bool run_active_ = false;
  int boards_finished_ = 0;
};

}  // namespace skav::gui

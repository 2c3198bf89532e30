#include "gui/bridges.h"

#include <QThread>

#include "gui/log_view.h"

namespace skav::gui {

namespace {

bool on_thread_of(const QObject& object) { return QThread::currentThread() == object.thread(); }

}  // namespace

LogBridge::LogBridge(LogView& view, QObject* parent) : QObject(parent), view_(view) {}

void LogBridge::append(std::string_view text) { queue(false, text); }

void LogBridge::erase_last() { queue(true, {}); }

void LogBridge::queue(bool erase, std::string_view text) {
  bool own_thread = on_thread_of(*this);
  bool post = false;
  {
    std::lock_guard lock(mutex_);
    if (!erase && !pending_.empty() && !pending_.back().erase) {
      pending_.back().text.append(text);
    } else {
      pending_.push_back(Operation{erase, std::string(text)});
    }
    if (!own_thread && !posted_) post = posted_ = true;
  }
  if (own_thread) {
    flush();
  } else if (post) {
    QMetaObject::invokeMethod(this, [this] { flush(); }, Qt::QueuedConnection);
  }
}

void LogBridge::flush() {
  {
    std::lock_guard lock(mutex_);
    applying_.swap(pending_);
    posted_ = false;
  }
  for (const Operation& operation : applying_) {
    if (operation.erase) {
      view_.erase_last();
    } else {
      view_.append_bytes(operation.text);
    }
  }
  applying_.clear();
}

EventBridge::EventBridge(QObject* parent) : QObject(parent) {}

void EventBridge::post(std::unique_lock<std::mutex>& lock) {
  if (on_thread_of(*this)) {
    lock.unlock();
    flush();
    return;
  }
  if (posted_) return;
  posted_ = true;
  lock.unlock();
  QMetaObject::invokeMethod(this, [this] { flush(); }, Qt::QueuedConnection);
}

void EventBridge::on_status_text(const std::string& text) {
  std::unique_lock lock(mutex_);
  status_ = text;
  status_changed_ = true;
  post(lock);
}

void EventBridge::on_progress(const std::string& section, std::uint64_t done,
                              std::uint64_t total) {
  std::unique_lock lock(mutex_);
  section_ = section;
  percent_ = total == 0 ? 100 : static_cast<int>((done >= total ? total : done) * 100 / total);
  progress_ = Progress::kShown;
  post(lock);
}

void EventBridge::on_progress_end() {
  std::unique_lock lock(mutex_);
  progress_ = Progress::kEnded;
  post(lock);
}

void EventBridge::on_run_active(bool active) {
  std::unique_lock lock(mutex_);
  run_active_ = active;
  run_active_changed_ = true;
  post(lock);
}

void EventBridge::on_board_finished(const station::BoardRecord&) {
  std::unique_lock lock(mutex_);
  ++boards_finished_;
  post(lock);
}

void EventBridge::flush() {
  std::unique_lock lock(mutex_);
  posted_ = false;
  bool status_changed = status_changed_;
  QString status = status_changed ? QString::fromStdString(status_) : QString();
  Progress progress = progress_;
  QString section = QString::fromStdString(section_);
  int percent = percent_;
  bool run_changed = run_active_changed_;
  bool run_active = run_active_;
  int boards = boards_finished_;
  status_changed_ = false;
  progress_ = Progress::kUnchanged;
  run_active_changed_ = false;
  boards_finished_ = 0;
  lock.unlock();

  // Signals go out unlocked: a slot may call back into the station.
  if (status_changed) Q_EMIT status_text_changed(status);
  if (progress == Progress::kShown) Q_EMIT progress_changed(section, percent);
  if (progress == Progress::kEnded) Q_EMIT progress_ended();
  if (run_changed) Q_EMIT run_active_changed(run_active);
  for (int i = 0; i < boards; ++i) Q_EMIT board_finished();
}

}  // namespace skav::gui

#include "frontends/qt/bridges.h"

#include <QThread>

#include <algorithm>
#include <utility>

#include "frontends/qt/log_view.h"

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

EventBridge::EventBridge(QObject* parent) : QObject(parent) {
  qRegisterMetaType<std::shared_ptr<const station::StationSnapshot>>();
  qRegisterMetaType<station::BoardRecord>();
}

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

void EventBridge::on_snapshot(std::shared_ptr<const station::StationSnapshot> snapshot) {
  std::unique_lock lock(mutex_);
  pending_ = std::move(snapshot);
  post(lock);
}

void EventBridge::on_board_finished(const station::BoardRecord& record) {
  std::unique_lock lock(mutex_);
  finished_.push_back(record);
  post(lock);
}

void EventBridge::flush() {
  std::unique_lock lock(mutex_);
  posted_ = false;
  std::shared_ptr<const station::StationSnapshot> next = std::move(pending_);
  std::vector<station::BoardRecord> finished = std::move(finished_);
  finished_.clear();
  lock.unlock();

  // Signals go out unlocked: a slot may post to the station.
  if (next) {
    std::shared_ptr<const station::StationSnapshot> before = std::exchange(shown_, next);
    Q_EMIT snapshot_changed(next);
    if (!before || before->status_text != next->status_text)
      Q_EMIT status_text_changed(QString::fromStdString(next->status_text));
    bool active = next->run_status != station::RunStatus::kNoRun;
    if (!before || (before->run_status != station::RunStatus::kNoRun) != active) Q_EMIT run_active_changed(active);
    const station::StepView* running = nullptr;
    if (next->board && !next->board->finished)
      for (const station::StepView& step : next->board->steps)
        if (step.state == station::StepView::State::kRunning && step.total > 0) running = &step;
    if (running != nullptr) {
      auto percent = static_cast<int>(std::min(running->done, running->total) * 100 / running->total);
      Q_EMIT progress_changed(QString::fromLatin1(running->name()), percent);
      progress_shown_ = true;
    } else if (progress_shown_) {
      progress_shown_ = false;
      Q_EMIT progress_ended();
    }
  }
  for (const station::BoardRecord& record : finished) Q_EMIT board_finished(record);
}

}  // namespace skav::gui

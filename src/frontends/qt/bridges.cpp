#include "frontends/qt/bridges.h"

#include <QThread>

#include <utility>

#include "frontends/qt/log_view.h"
#include "present/progress.h"

namespace skav::gui {

namespace {

bool on_thread_of(const QObject& object) { return QThread::currentThread() == object.thread(); }

}  // namespace

LogBridge::LogBridge(LogView& view, QObject* parent)
    : QObject(parent), view_(view), box_([this] { return wake(); }) {}

bool LogBridge::wake() {
  // On the window's thread the caller flushes at once (flush_if_on_window_thread).
  if (!on_thread_of(*this)) QMetaObject::invokeMethod(this, [this] { flush(); }, Qt::QueuedConnection);
  return true;
}

void LogBridge::flush_if_on_window_thread() {
  if (on_thread_of(*this)) flush();
}

void LogBridge::append(std::string_view text) {
  box_.append(text);
  flush_if_on_window_thread();
}

void LogBridge::erase_last() {
  box_.erase_last();
  flush_if_on_window_thread();
}

void LogBridge::flush() {
  box_.drain([this](const present::LogOperation& operation) {
    if (operation.erase) {
      view_.erase_last();
    } else {
      view_.append_bytes(operation.text);
    }
  });
}

EventBridge::EventBridge(QObject* parent) : QObject(parent), box_([this] { return wake(); }) {
  qRegisterMetaType<station::BoardRecord>();
}

bool EventBridge::wake() {
  // On the window's thread the caller flushes at once.
  if (!on_thread_of(*this)) QMetaObject::invokeMethod(this, [this] { flush(); }, Qt::QueuedConnection);
  return true;
}

void EventBridge::on_snapshot(std::shared_ptr<const station::StationSnapshot> snapshot) {
  box_.on_snapshot(std::move(snapshot));
  if (on_thread_of(*this)) flush();
}

void EventBridge::on_board_finished(const station::BoardRecord& record) {
  box_.on_board_finished(record);
  if (on_thread_of(*this)) flush();
}

void EventBridge::flush() {
  present::StationMailbox::Box::Batch batch = box_.take();
  // Signals go out unlocked: a slot may post to the station.
  if (const auto& next = batch.snapshot) {
    std::shared_ptr<const station::StationSnapshot> before = std::exchange(shown_, next);
    if (!before || before->status_text != next->status_text)
      Q_EMIT status_text_changed(QString::fromStdString(next->status_text));
    bool active = next->run_status != station::RunStatus::kNoRun;
    if (!before || (before->run_status != station::RunStatus::kNoRun) != active) Q_EMIT run_active_changed(active);
    if (std::optional<present::ProgressLine> line = present::progress_line(*next)) {
      Q_EMIT progress_changed(QString::fromStdString(line->label), line->percent);
      progress_shown_ = true;
    } else if (progress_shown_) {
      progress_shown_ = false;
      Q_EMIT progress_ended();
    }
  }
  for (const station::BoardRecord& record : batch.events) Q_EMIT board_finished(record);
}

}  // namespace skav::gui

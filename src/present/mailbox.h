#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/log.h"
#include "core/station/station_events.h"

namespace skav::present {

// Asks the window's thread to drain a mailbox soon (Qt: a queued call; Win32: a posted
// message). Called without the mailbox's lock held, at most once until the next drain; it may
// drain at once when it runs on the window's thread. False: the request was not delivered, so
// the next hand-in asks again.
using Wake = std::function<bool()>;

// One wake-up for everything handed in before the window's thread looks: calls `wake` (with
// `lock` released) unless one is on its way; a wake-up that did not get through is tried again
// with the next hand-in. `posted` is the mailbox's own flag, guarded by `lock`.
void wake_once(std::unique_lock<std::mutex>& lock, bool& posted, const Wake& wake);

// One operation on the log, as the station made it.
struct LogOperation {
  bool erase = false;  // erase the last character; otherwise append `text`
  std::string text;
  bool operator==(const LogOperation&) const = default;
};

// The station's log on its way to the window's thread. Any thread may append or erase; the
// operations keep their call order, and appends in a row travel as one. The window's thread
// drains them; a caller never waits for it.
class LogMailbox : public Log {
 public:
  explicit LogMailbox(Wake wake) : wake_(std::move(wake)) {}

  void append(std::string_view text) override;
  void erase_last() override;
  // Hands every queued operation, in order, to `apply`. Window thread only; what `apply` hands
  // in waits for a later drain.
  template <class Apply>
  void drain(Apply&& apply) {
    std::vector<LogOperation> batch;
    {
      std::lock_guard lock(mutex_);
      batch.swap(pending_);
      posted_ = false;
    }
    for (const LogOperation& operation : batch) apply(operation);
    batch.clear();
    // The batch's storage serves the next one, unless more has arrived meanwhile.
    std::lock_guard lock(mutex_);
    if (pending_.empty() && pending_.capacity() < batch.capacity()) pending_.swap(batch);
  }

 private:
  void queue(bool erase, std::string_view text);

  Wake wake_;
  std::mutex mutex_;
  std::vector<LogOperation> pending_;
  bool posted_ = false;
};

// Snapshots and events of one publisher on their way to the window's thread: of the snapshots
// only the latest counts, while every event arrives, in call order. Any thread may hand in;
// the window's thread takes. `Snapshot` is whatever the publisher shows (a station's, a line's).
template <class Snapshot, class Event>
class Mailbox {
 public:
  // What arrived since the last take: the latest snapshot (none if none came) and the events.
  struct Batch {
    std::shared_ptr<const Snapshot> snapshot;
    std::vector<Event> events;
  };

  explicit Mailbox(Wake wake) : wake_(std::move(wake)) {}

  void put_snapshot(std::shared_ptr<const Snapshot> snapshot) {
    std::unique_lock lock(mutex_);
    pending_.snapshot = std::move(snapshot);
    wake_once(lock, posted_, wake_);
  }
  void put_event(Event event) {
    std::unique_lock lock(mutex_);
    pending_.events.push_back(std::move(event));
    wake_once(lock, posted_, wake_);
  }
  // Everything that arrived since the last take. Window thread only.
  Batch take() {
    std::lock_guard lock(mutex_);
    posted_ = false;
    return std::exchange(pending_, Batch{});
  }

 private:
  Wake wake_;
  std::mutex mutex_;
  Batch pending_;
  bool posted_ = false;
};

// A station's events through a mailbox: its snapshots (latest wins) and its finished boards.
class StationMailbox : public station::StationEvents {
 public:
  using Box = Mailbox<station::StationSnapshot, station::BoardRecord>;

  explicit StationMailbox(Wake wake) : box_(std::move(wake)) {}

  void on_snapshot(std::shared_ptr<const station::StationSnapshot> snapshot) override {
    box_.put_snapshot(std::move(snapshot));
  }
  void on_board_finished(const station::BoardRecord& record) override { box_.put_event(record); }
  // See Mailbox::take(). Window thread only.
  Box::Batch take() { return box_.take(); }

 private:
  Box box_;
};

}  // namespace skav::present

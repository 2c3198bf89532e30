#include "backends/postgres/port_publisher.h"

#include <utility>

namespace skav::postgres {

namespace {

// One row, written and announced in one statement: the notice goes out when the row commits.
constexpr const char* kWriteRow =
    "WITH written AS (INSERT INTO skav_ports (station_id, port, host, adapter, word, board, step, "
    "progress, address, verdict, reason, adapter_health, version, changed_at, heartbeat) "
    "VALUES ($1, $2::int, $3, $4, $5, $6::int, $7, $8::int, $9, $10, $11, $12, $13, now(), now()) "
    "ON CONFLICT (station_id, port) DO UPDATE SET host = EXCLUDED.host, adapter = EXCLUDED.adapter, "
    "word = EXCLUDED.word, board = EXCLUDED.board, step = EXCLUDED.step, "
    "progress = EXCLUDED.progress, address = EXCLUDED.address, verdict = EXCLUDED.verdict, "
    "reason = EXCLUDED.reason, adapter_health = EXCLUDED.adapter_health, "
    "version = EXCLUDED.version, changed_at = now(), heartbeat = now() RETURNING port) "
    "SELECT pg_notify('skav_line', $1) FROM written";

constexpr const char* kBeat = "UPDATE skav_ports SET heartbeat = now() WHERE station_id = $1";

}  // namespace

PortPublisher::PortPublisher(Publisher who, RowsOf rows_of)
    : who_(std::move(who)), rows_of_(std::move(rows_of)), thread_([this] { run(); }) {}

PortPublisher::~PortPublisher() { stop(); }

void PortPublisher::on_snapshot(std::shared_ptr<const line::LineSnapshot> snapshot) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.offered;
    if (pending_) ++counts_.replaced;
    pending_ = std::move(snapshot);
  }
  wake_.notify_one();
}

void PortPublisher::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ && !thread_.joinable()) return;
    stopping_ = true;
  }
  // What is waiting still gets its chance, but no wait outlasts the grace.
  bounds_.stop(kStopGrace);
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

PortPublisher::Counts PortPublisher::counts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return counts_;
}

void PortPublisher::run() {
  Clock& clock = bounds_.clock();
  std::vector<PortRow> rows;
  bool unwritten = false;
  Clock::time_point next_beat = clock.now();
  for (;;) {
    std::shared_ptr<const line::LineSnapshot> snapshot;
    bool stopping = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      // Rows a failed write left behind are tried again at the next beat.
      Clock::duration rest = next_beat - clock.now();
      if (rest > Clock::duration::zero())
        wake_.wait_for(lock, rest, [this] { return pending_ != nullptr || stopping_; });
      snapshot = std::move(pending_);
      pending_.reset();
      stopping = stopping_;
    }
    if (snapshot) {
      rows = rows_of_(*snapshot);
      unwritten = true;
    }
    const bool due = clock.now() >= next_beat;
    if ((unwritten || (due && !written_.empty())) && connected()) {
      if (unwritten && write_rows(rows)) {
        unwritten = false;
        next_beat = clock.now() + kHeartbeat;
      }
      if (clock.now() >= next_beat && !written_.empty() && beat()) next_beat = clock.now() + kHeartbeat;
    }
    if (clock.now() >= next_beat) next_beat = clock.now() + kHeartbeat;
    if (stopping) return;
  }
}

bool PortPublisher::connected() {
  if (connection_.is_open()) return true;
  Clock::time_point now = bounds_.clock().now();
  if (now < retry_at_) return false;
  DbResult opened = connection_.open(who_.url, "skav station", now + kWriteLimit);
  if (opened.ok()) {
    // The server gives up on a statement as soon as the publisher does.
    Reply limited = connection_.run("SET statement_timeout = 2000", {}, now + kWriteLimit);
    opened = DbResult::of(limited, "cannot use the database");
  }
  if (!opened.ok()) return rest();
  // A new connection does not know what the table holds: every row is written again.
  written_.clear();
  return true;
}

bool PortPublisher::write_rows(const std::vector<PortRow>& rows) {
  for (const PortRow& row : rows) {
    auto known = written_.find(row.port);
    if (known != written_.end() && known->second == row) continue;
    Reply reply = connection_.run(
        kWriteRow,
        {who_.station_id, std::to_string(row.port), who_.host, row.adapter, row.word,
         std::to_string(row.board), row.step, std::to_string(row.progress), row.address, row.verdict,
         row.reason, row.adapter_health, who_.version},
        bounds_.clock().now() + kWriteLimit);
    // A connection that broke or ran late is closed; one that merely failed (no table yet, no
    // right) rests too, so that a line without the table is not asked every beat.
    if (!reply.ok) return rest();
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.rows;
    written_[row.port] = row;
  }
  return true;
}

bool PortPublisher::rest() {
  connection_.close();
  retry_at_ = bounds_.clock().now() + kRetryAfter;
  std::lock_guard<std::mutex> lock(mutex_);
  ++counts_.failures;
  return false;
}

bool PortPublisher::beat() {
  Reply reply = connection_.run(kBeat, {who_.station_id}, bounds_.clock().now() + kWriteLimit);
  if (!reply.ok) return rest();
  std::lock_guard<std::mutex> lock(mutex_);
  ++counts_.beats;
  return true;
}

}  // namespace skav::postgres

#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "backends/postgres/connection.h"
#include "backends/postgres/schema.h"

namespace skav::postgres {

// A port whose heartbeat is older than this, by the database's clock, is OFFLINE.
inline constexpr double kOfflineSeconds = 5.0;

// One row of skav_ports as the dashboard shows it.
struct PortView {
  std::string station_id, host, version;
  int port = 0;
  std::string adapter, word, step, address, verdict, reason, adapter_health;
  int board = 0;
  int progress = 0;
  double age = 0;        // seconds since its heartbeat, by the database's clock
  bool offline = false;  // age > kOfflineSeconds
};

struct HourCount {
  int hour = 0;  // 0..23, the dashboard host's local time
  int passed = 0;
  int failed = 0;
};

// Boards that did not pass, by the first step that did not, and its verdict.
struct FailureCount {
  std::string step;    // "kernel"; "run" when every step passed yet the board did not
  std::string reason;  // that step's verdict word ("fail", "timeout")
  int count = 0;
};

struct PoolView {
  bool known = false;         // the database has a range
  std::int64_t size = 0;      // addresses in the range
  std::int64_t used = 0;
  std::int64_t free = 0;
  std::int64_t today = 0;     // reserved since the day's start
  std::string runs_out;       // YYYY-MM-DD at today's rate; empty when nothing was used today
};

// The line since the day's start: every port, the day's totals and its pool.
struct LineView {
  std::vector<PortView> ports;  // by host, station, port
  int boards = 0;               // finished boards (records) today
  int passed = 0;
  int failed = 0;
  int interrupted = 0;          // cut short (stopped, adapter-lost): neither passed nor failed
  // Of the distinct boards (by discovered address) seen today, the share whose first run passed.
  double first_pass_yield = 0;
  double boards_per_hour = 0;   // boards over the hours since the day's start
  std::vector<HourCount> hours;        // one per hour from the day's start to now
  std::vector<FailureCount> failures;  // most first
  PoolView pool;
};

// The figures of a day from its records' (ended at, verdict, board address, steps' verdicts):
// the part of read_line that needs no database.
struct DayRecord {
  std::time_t ended = 0;
  std::string verdict;
  std::string board_mac;
  std::vector<std::pair<std::string, std::string>> steps;  // (step, verdict) in run order
};

// The day's records as a reader keeps them from one read of the line to the next: the day's
// whole at its first read (and at a new day), then only what the database stored since the
// last read. A record's insert does not notify (it would queue the line's commits); the
// reader reads at its station's port notice and at its regular refresh instead.
class DayRecords {
 public:
  // Records one read takes at most; a read that took as many is behind() and the next goes on.
  static constexpr int kMaxRead = 2000;
  // A record's `stored_at` is its transaction's start, and it commits at most a statement's
  // time-out later (kCallLimit): each read asks again for what was stored this long before the
  // last one began, leaving out the records it has already.
  static constexpr std::chrono::seconds kOverlap{30};

  // `since_stored`: the database has `stored_at` (kStoredAtVersion on); without it every read
  // takes the day whole.
  explicit DayRecords(bool since_stored) : since_stored_(since_stored) {}

  // Reads what is new over `run`, in the caller's transaction (one snapshot); the day starts at
  // `day_start` (seconds since the epoch). On a failure nothing the records hold changes.
  DbResult read(const Runner& run, std::time_t day_start);
  const std::vector<DayRecord>& records() const { return records_; }
  // The last read stopped at kMaxRead: read again without waiting for a notice.
  bool behind() const { return behind_; }

 private:
  bool since_stored_;
  bool whole_ = false;         // the day was read whole
  std::time_t day_start_ = 0;
  double since_ = 0;           // the next read's start, the database's clock (epoch seconds)
  bool behind_ = false;
  std::vector<DayRecord> records_;
  // The addresses of the records held that were stored at or after since_, with that time.
  std::vector<std::pair<double, std::int64_t>> recent_;
};

// Reads the line over `run` (one snapshot of the tables). `day_start` is the day's start (the
// dashboard's local time) and `now` the dashboard's now, both as seconds since the epoch; the
// day's records come from `records`, which keeps them for the next read. Without `with_pool`
// the pool's figures are not read (counting its addresses costs the database the most).
// kMissing when the database has no ports table (an older schema: skav pool migrate).
DbResult read_line(const Runner& run, std::time_t day_start, std::time_t now, DayRecords& records,
                   bool with_pool, LineView& out);
// The same, reading the day's records whole.
DbResult read_line(const Runner& run, std::time_t day_start, std::time_t now, LineView& out);
void add_day(const std::vector<DayRecord>& records, std::time_t day_start, std::time_t now,
             LineView& out);

// "2026-12-24": the day `free` addresses run out at `used_today` per (now - day_start).
std::string run_out_day(std::int64_t free, std::int64_t used_today, std::time_t day_start, std::time_t now);

}  // namespace skav::postgres

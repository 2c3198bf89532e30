#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "backends/postgres/connection.h"
#include "line/line.h"

namespace skav::postgres {

// The channel every change of the line's ports and records is announced on. Its payload is a
// hint only (any role may send one): listeners read the tables again.
inline constexpr const char* kLineChannel = "skav_line";

// What one port shows, as a row of skav_ports.
struct PortRow {
  int port = 0;                // the port's place in its station, from 0
  std::string adapter;         // the adapter's system name
  std::string word;            // the panel's word, "PROGRAMMING"
  int board = 0;               // the board's number at this port (0: none yet)
  std::string step;            // the step running ("kernel"); empty when none
  int progress = 0;            // that step's percent
  std::string address;         // the address written into the board, 00:11:22:33:44:55
  std::string verdict;         // the last finished board's verdict word ("pass"); empty before
  std::string reason;          // why it did not pass
  std::string adapter_health;  // "ok", or what is wrong with the adapter
  bool operator==(const PortRow&) const = default;
};

// Who publishes: the station's identity (kept with its settings), host and software.
struct Publisher {
  std::string url;
  std::string host;
  std::string station_id;
  std::string version;
};

// The rows of a line's snapshot; made by the set-up, which knows how the windows word a port.
using RowsOf = std::function<std::vector<PortRow>(const line::LineSnapshot&)>;

// Keeps the line's rows of skav_ports up to date from its snapshots, on a thread of its own:
// only the latest snapshot waits there (a newer one replaces it), each write is bounded, and a
// database that is slow or away costs the station nothing but stale rows. Changed rows are
// written with a notice on kLineChannel; the heartbeat (the database's now()) at least every
// kHeartbeat while the publisher lives.
class PortPublisher : public line::LineEvents {
 public:
  static constexpr std::chrono::milliseconds kHeartbeat{500};
  // Each statement's bound, and how long a connection that failed rests before the next try.
  static constexpr std::chrono::seconds kWriteLimit{2};
  static constexpr std::chrono::seconds kRetryAfter{1};

  // Starts the thread; it connects when there is something to write.
  PortPublisher(Publisher who, RowsOf rows_of);
  ~PortPublisher() override;  // stop()
  PortPublisher(const PortPublisher&) = delete;
  PortPublisher& operator=(const PortPublisher&) = delete;

  // Never waits: the snapshot replaces one not yet written.
  void on_snapshot(std::shared_ptr<const line::LineSnapshot> snapshot) override;
  // Writes what is waiting within kStopGrace, then ends the thread. Idempotent.
  void stop();

  struct Counts {
    std::uint64_t offered = 0;   // snapshots handed in
    std::uint64_t replaced = 0;  // of them, dropped for a newer one before being written
    std::uint64_t rows = 0;      // rows written
    std::uint64_t beats = 0;     // heartbeats written
    std::uint64_t failures = 0;  // statements or connections that failed
  };
  Counts counts() const;

 private:
  void run();
  bool connected();
  bool write_rows(const std::vector<PortRow>& rows);
  bool beat();
  // After a failure: the connection closed, the next try not before kRetryAfter. False.
  bool rest();

  const Publisher who_;
  const RowsOf rows_of_;
  Bounds bounds_;
  Connection connection_{bounds_};
  Clock::time_point retry_at_{};
  std::map<int, PortRow> written_;  // what the table holds of this station, as far as known

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::shared_ptr<const line::LineSnapshot> pending_;
  bool stopping_ = false;
  Counts counts_;
  std::thread thread_;  // last: it starts when the rest is ready
};

}  // namespace skav::postgres

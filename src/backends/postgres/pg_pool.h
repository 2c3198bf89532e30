#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/mac_digits.h"
#include "core/settings/address_pool.h"
#include "core/status.h"
#include "backends/postgres/connection.h"

namespace skav::postgres {

// True for a pool URL that names a PostgreSQL database ("postgresql://" or "postgres://").
bool is_postgres_url(const std::string& url);

// Checks a PostgreSQL URL before anything connects: it must parse, and it must not carry a
// password (a command line and a log are no place for one). The message says what is wrong
// and where a password belongs instead.
Status check_url(const std::string& url);

// The URL without anything secret, for messages: "database skav as skav on /run/pg port 5432".
std::string describe_url(const std::string& url);

// An address as the pool stores it: the 48-bit value of 12 hexadecimal digits, and back.
std::int64_t address_value(const MacDigits::Digits& digits);
MacDigits::Digits address_digits(std::int64_t value);

// Creates the pool's tables (addresses, range, records with one column per production-record
// column) in the database at `url`, if missing, and sets the range [first, last]. Refuses
// an empty range and a database that has a range already (addresses once handed out stay
// handed out: a range is never replaced).
Status init_range(const std::string& url, const MacDigits::Digits& first,
                  const MacDigits::Digits& last);

// What `skav pool status` shows.
struct StationUse {
  std::string host;
  std::string port;
  std::int64_t reserved = 0;     // addresses this station reserved
  std::int64_t finished = 0;     // of them, boards whose outcome is recorded
  std::int64_t last = -1;        // its last address
  std::string last_time;         // when it reserved that
};
struct RangeStatus {
  std::int64_t first = 0, last = 0;
  std::int64_t next = 0;         // where the next search for a free address starts
  std::int64_t used = 0;         // addresses reserved, whatever became of their boards
  std::int64_t free = 0;         // addresses in the range never reserved
  std::int64_t finished = 0;     // reserved addresses with a recorded outcome
  std::int64_t last_handed = -1; // the address reserved last (-1: none)
  std::string last_host, last_port, last_time;
  std::vector<StationUse> stations;  // by host and port
};
Status read_status(const std::string& url, RangeStatus& out);

// The records of the line, oldest first: the column names (host, port, then the production
// record's columns) and one row of texts per board. `since` (ISO 8601, empty: all) keeps the
// boards that ended at or after it.
struct RecordTable {
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;
};
Status read_records(const std::string& url, const std::string& since, RecordTable& out);

// The address pool of a line: a range of addresses in a PostgreSQL database, shared by every
// station and port of the line. An address is reserved (with the station's host, port and time)
// in a committed transaction before reserve() returns, and never reserved again; the database's
// row lock on the range and the unique address key keep two stations from one address. Each
// finished board's record goes into the records table in the transaction that marks its
// address's outcome. Holds one connection, made again after the server went away. Every call
// ends within kCallLimit (a connection within kConnectLimit of it), a cancelled statement
// within kCancelLimit more: a database that does not answer is then kUnavailable. Any thread
// may call.
//
// With a station identity and a working folder, outcomes the database has not taken yet are
// kept durably: each goes into the spool `<dir>/skav-spool-<station id>.csv` (one synced line
// per record, the address and the production record's columns) before finish() returns, and
// the spool is removed once the database has taken all of it. At its first connection the pool
// sends what the spool holds, and its own reservations that the database shows without an
// outcome are matched with the station's records file (by the address written) and sent too.
// Sending again is harmless: an address's outcome and record are stored once.
class PgAddressPool : public settings::AddressPool {
 public:
  // `url` must have passed check_url(). `station_host` is this station's host name;
  // `station_id` its identity (SettingsStore::station_id), `dir` the folder of its records
  // file. Without an identity or a folder nothing is kept on disk and nothing reconciled.
  // `waits`: the clock and socket waits every database call is bounded on (tests hand in theirs).
  PgAddressPool(std::string url, std::string station_host, std::string station_id = {},
                std::filesystem::path dir = {}, SocketWait& waits = system_wait());
  ~PgAddressPool() override;  // tries once more to send records the database did not take
  PgAddressPool(const PgAddressPool&) = delete;
  PgAddressPool& operator=(const PgAddressPool&) = delete;

  // Fails when the spool cannot be read, the database answers and has no range (skav pool
  // init), or cannot be used (an unknown role or database, refused log-in). A database that
  // does not answer is not a failure here: the station waits for it when a board comes.
  // Otherwise sends what was kept and reconciles (see above).
  Status check_ready();

  // The range's next address. kUnavailable when the database does not answer, kExhausted
  // when the range is used up (the board's address is decided when it is reserved); never
  // kUnset: nothing to repair.
  settings::PoolResult<MacDigits::Digits> read_next(Log* log) override;
  // The line's range gives the addresses: a station does not set them. Logs that the address
  // was not changed, and returns kRefused.
  settings::PoolResult<> write_next(Log* log, const MacDigits::Digits& digits) override;
  // Not exact: the lowest free address from the range's next on (kExhausted past its end).
  // Exact (the operator's entry): that address when it lies in the range and was never handed
  // out; otherwise kRefused, saying which. kUnavailable while the database does not answer.
  // Records the database did not take earlier are sent first.
  settings::PoolResult<settings::Reservation> reserve(Log* log, const MacDigits::Digits& wanted,
                                                      bool exact, const std::string& port) override;
  // Writes the record to the spool, then marks the address's outcome and stores the record,
  // in one transaction. kKept when the database does not answer (or refuses the record): it
  // stays kept and is sent before the next reservation, when the pool ends, or at the next
  // start. kUnavailable: the spool cannot be written, nothing is kept.
  settings::PoolResult<> finish(const settings::Reservation& reservation,
                                const settings::BoardOutcome& outcome) override;
  settings::PoolResult<std::size_t> flush_outcomes() override;

  // The process is stopping: a database call in progress, and every later one, ends within
  // kStopGrace (what the database still answers in that time is kept).
  void interrupt() override;

  // Records kept because the database did not take them yet.
  std::size_t pending_records() const;
  // The spool's path; empty when nothing is kept on disk.
  const std::filesystem::path& spool_path() const { return spool_; }

 private:
  struct InDoubt {
    std::int64_t address;
    std::string claim;
  };
  struct Pending {
    std::int64_t address;
    std::string port;
    settings::BoardOutcome outcome;
  };
  enum class Answer { kDone, kUnavailable, kFailed };
  // Connects when not connected. False, with `why`, when the server does not answer.
  bool connect(std::string& why);
  void drop_connection();
  // Starts the limit of one public call: its statements share kCallLimit.
  void start_call();
  Reply run(const char* sql, const std::vector<std::string>& params = {});
  Answer store_outcome(const Pending& pending, std::string& why);
  Answer send_pending(std::string& why);
  // Once per pool, on a connection: the station identity's columns added to a database made
  // before they were, and the reservations without an outcome matched with the records file.
  Answer prepare(std::string& why);
  Status load_spool();
  void add_pending(Pending pending);
  settings::PoolResult<> reserve_locked(const MacDigits::Digits& wanted, bool exact,
                                      const std::string& port, settings::Reservation& out);

  std::string url_;
  std::string host_;
  std::string station_id_;
  std::filesystem::path dir_;
  std::filesystem::path spool_;
  bool spool_loaded_ = false;
  bool prepared_ = false;
  mutable std::mutex mutex_;
  Bounds bounds_;
  Connection connection_{bounds_};
  Clock::time_point until_{};
  std::deque<Pending> pending_;
  std::optional<InDoubt> in_doubt_;  // a reservation whose commit was not answered
};

}  // namespace skav::postgres

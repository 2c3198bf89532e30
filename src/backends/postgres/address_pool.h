#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/mac_digits.h"
#include "core/settings/address_pool.h"
#include "core/status.h"
#include "backends/postgres/connection.h"

namespace skav::postgres {

// A re-test claim still open this long after it was made belongs to a run that ended without
// telling the line (its station killed and gone, or without an identity to reconcile it by):
// it is closed as not run. Far longer than any board's run, whose steps each have a time-out.
inline constexpr std::chrono::seconds kStaleRetestClaim{3600};

// An address as the pool stores it: the 48-bit value of 12 hexadecimal digits, and back.
std::int64_t address_value(const MacDigits::Digits& digits);
MacDigits::Digits address_digits(std::int64_t value);

// Makes or migrates the line database's schema (see schema.h) in the database at `url` and
// sets the range [first, last]. Refuses an empty range, one holding group addresses, and a
// database that has a range already (addresses once handed out stay handed out: a range is
// never replaced: kConflict).
DbResult init_range(const std::string& url, const MacDigits::Digits& first,
                    const MacDigits::Digits& last);

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
// sends what the spool holds, and its own reservations and re-test claims that the database
// shows without an outcome are matched with the station's records file (by the address written,
// and a re-test's attempt) and sent too; a re-test claim without a record is closed as not-run,
// as is any claim on the line older than kStaleRetestClaim.
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

  // Fails when the spool cannot be read, the database answers and has no range (kMissing: skav
  // pool init), refuses the log-in (kLogin), or has a schema this station cannot use (kSchema:
  // newer than it knows, or older and not to be migrated by its role; the message names both
  // versions and who can migrate). An older schema it migrates when its role may. A database
  // that does not answer is not a failure here: the station waits for it when a board comes.
  // Otherwise sends what was kept and reconciles (see above).
  DbResult check_ready();

  // The range's next address. kUnavailable when the database does not answer, kExhausted
  // when the range is used up (the board's address is decided when it is reserved); never
  // kUnset: nothing to repair.
  settings::PoolResult<MacDigits::Digits> read_next(Log* log) override;
  // The line's range gives the addresses: a station does not set them. Logs that the address
  // was not changed, and returns kRefused.
  settings::PoolResult<> write_next(Log* log, const MacDigits::Digits& digits) override;
  // Not exact: the lowest free address from the range's next on (kExhausted past its end).
  // kRefused, with check_ready()'s message, while the schema cannot be used.
  // Exact (the operator's entry): that address when it lies in the range and was never handed
  // out; otherwise kRefused, saying which. kUnavailable while the database does not answer.
  // Records the database did not take earlier are sent first.
  settings::PoolResult<settings::Reservation> reserve(Log* log, const MacDigits::Digits& wanted,
                                                      bool exact, const std::string& port) override;
  // A re-test on the line: the address must have been handed out by the range, its first run
  // and every re-test of it must have ended without a pass (a pass kept in the spool counts
  // too), and no other re-test of it may be open anywhere on the line (one this station left
  // open, killed mid-run, is taken over). The claim is a committed row of skav_retests, its
  // attempt one past the line's last; the range's next address does not move. kUnset: the range
  // never handed the address out. `history` is not needed: the line knows more than the station.
  settings::PoolResult<settings::Reservation> claim_retest(Log* log, const MacDigits::Digits& address,
                                                           const settings::BoardHistory& history,
                                                           const MacDigits::Digits& next,
                                                           const std::string& port) override;
  // Writes the record to the spool, then marks the address's outcome (a re-test's: its row of
  // skav_retests, with the record) and stores the record, in one transaction. kKept when the database does not answer (or refuses the record): it
  // stays kept and is sent before the next reservation, when the pool ends, or at the next
  // start. kUnavailable: the spool cannot be written, nothing is kept.
  // A first run's commit does not wait for the server's disk: the spool keeps the record until
  // a later commit of this pool that waits (the next claim, flush_outcomes(), the pool's end),
  // and a new connection sends it again.
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
    int attempt;
    std::string port;
    settings::BoardOutcome outcome;
  };
  enum class Answer { kDone, kUnavailable, kFailed };
  // Connects when not connected. False, with `why` (and the fault), when it could not.
  bool connect(std::string& why, Fault* fault = nullptr);
  void drop_connection();
  // Starts the limit of one public call: its statements share kCallLimit.
  void start_call();
  Reply run(const char* sql, const std::vector<std::string>& params = {});
  Answer store_outcome(const Pending& pending, std::string& why);
  Answer send_pending(std::string& why);
  // A commit that waited for the disk was answered on this connection: every record taken
  // before it is on the disk, and the spool goes once nothing else waits in it.
  void flushed();
  // Makes the records taken without waiting durable: a commit that waits for the disk.
  Answer flush_unflushed(std::string& why);
  // Once per pool, on a connection: the schema checked (and migrated where it may be), and the
  // reservations without an outcome matched with the records file. kFailed with schema_ready_
  // false: the schema cannot be used (`why` says why).
  Answer prepare(std::string& why);
  // Part of prepare(): this station's open re-test claims, matched with its spool and records
  // file (by address and attempt); those without a record are closed as not run.
  Answer reconcile_retests(std::string& why);
  Status load_spool();
  void add_pending(Pending pending);
  settings::PoolResult<> claim_locked(std::int64_t address, const std::string& port, int& attempt);
  Answer store_retest_outcome(const Pending& pending, std::string& why);
  settings::PoolResult<> reserve_locked(const MacDigits::Digits& wanted, bool exact,
                                      const std::string& port, settings::Reservation& out);

  std::string url_;
  std::string host_;
  std::string station_id_;
  std::filesystem::path dir_;
  std::filesystem::path spool_;
  bool spool_loaded_ = false;
  bool prepared_ = false;
  bool schema_ready_ = false;
  Fault schema_fault_ = Fault::kNone;  // why not, when not ready
  mutable std::mutex mutex_;
  Bounds bounds_;
  Connection connection_{bounds_};
  Clock::time_point until_{};
  std::deque<Pending> pending_;
  // Records the database took without waiting for its disk: the spool keeps them until a later
  // commit of this connection that waits for the disk (and so for theirs) is answered, and a
  // new connection sends them again.
  std::vector<Pending> unflushed_;
  std::optional<InDoubt> in_doubt_;  // a reservation whose commit was not answered
  std::set<std::int64_t> retests_;   // the re-tests this pool has claimed and not finished
};

}  // namespace skav::postgres

#include "backends/postgres/address_pool.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <cstring>
#include <random>
#include <set>
#include <string_view>

#include "core/platform/files.h"
#include "core/settings/settings_store.h"
#include "core/station/records.h"
#include "backends/postgres/schema.h"

namespace skav::postgres {

namespace {

// The spool and the records file are read whole; a year of a line's records is a few MB.
constexpr std::size_t kMaxKeptFile = std::size_t{256} << 20;

std::string digits_text(std::int64_t value) { return MacDigits::text(address_digits(value)); }

// Bit 0 of the first byte: an address of a group (multicast and broadcast), never a board's.
bool group_address(std::int64_t value) { return ((value >> 40) & 1) != 0; }

// The lowest group address in [low, high], or -1. A range either starts in a group address's
// first byte or, spanning two first bytes, holds one of them.
std::int64_t first_group_address(std::int64_t low, std::int64_t high) {
  if (group_address(low)) return low;
  std::int64_t next_byte = ((low >> 40) + 1) << 40;
  return next_byte <= high ? next_byte : -1;
}

// What a station shows as the next board's address after `address` was taken: the range's next,
// or, once the range is used up, the taken address itself (never one outside the range; the
// next reservation says that the range is used up).
std::int64_t shown_next(std::int64_t address, std::int64_t next, std::int64_t last) {
  return next <= last ? next : address;
}

// A token that only this reservation's row carries.
std::string new_claim() {
  static std::mutex mutex;
  static std::mt19937_64 random{std::random_device{}()};
  std::lock_guard lock(mutex);
  char text[40];
  std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(random()),
                static_cast<unsigned long long>(random()));
  return text;
}

// The spool: a header, then per record its address and the production record's columns.
std::string spool_header() { return "address," + station::records_header(); }

// An outcome's value of a record column ("" when it has none).
std::string outcome_value(const settings::BoardOutcome& outcome, const char* name) {
  for (const auto& [key, text] : outcome.columns)
    if (key == name) return text;
  return {};
}

std::string spool_line(std::int64_t address, const settings::BoardOutcome& outcome) {
  std::string line = std::to_string(address);
  for (const station::RecordColumn& column : station::kRecordColumns)
    line += "," + station::csv_field(outcome_value(outcome, column.name));
  return line + "\n";
}

using Columns = std::vector<std::pair<std::string, std::string>>;

// The rows of a CSV file whose first row names the columns, each as (name, value) pairs.
std::vector<Columns> named_rows(std::string_view text) {
  std::vector<std::vector<std::string>> rows = station::parse_csv(text);
  std::vector<Columns> named;
  for (std::size_t r = 1; r < rows.size(); ++r) {
    // A line cut short by a crash mid-write does not have every column.
    if (rows[r].size() != rows[0].size()) continue;
    Columns columns;
    for (std::size_t c = 0; c < rows[0].size(); ++c) columns.emplace_back(rows[0][c], rows[r][c]);
    named.push_back(std::move(columns));
  }
  return named;
}

std::string column(const Columns& columns, const std::string& name) {
  for (const auto& [key, text] : columns)
    if (key == name) return text;
  return {};
}

// The production record's columns of a row of the spool or the records file (by their header
// words), in the record's own order.
settings::BoardOutcome outcome_of_row(const Columns& row) {
  settings::BoardOutcome outcome;
  for (const station::RecordColumn& record_column : station::kRecordColumns)
    outcome.columns.emplace_back(record_column.name, column(row, record_column.header));
  outcome.verdict = outcome_value(outcome, "verdict");
  return outcome;
}

// A row's attempt: 1 for a row written before attempts were counted.
int attempt_of_row(const Columns& row) {
  const std::string text = column(row, "attempt");
  char* end = nullptr;
  long attempt = std::strtol(text.c_str(), &end, 10);
  return text.empty() || *end != '\0' || attempt < 1 ? 1 : static_cast<int>(attempt);
}

// "02:00:00:0A:00:01" as an address value; -1 when it is none.
std::int64_t address_of_colon_text(const std::string& text) {
  std::string hex;
  for (char c : text)
    if (c != ':') hex += c;
  MacDigits::Digits digits{};
  if (!MacDigits::parse(hex, digits)) return -1;
  return address_value(digits);
}

}  // namespace

std::int64_t address_value(const MacDigits::Digits& digits) {
  std::int64_t value = 0;
  for (char c : digits) value = value * 16 + hex_value(c);
  return value;
}

MacDigits::Digits address_digits(std::int64_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%012llX", static_cast<unsigned long long>(value) & 0xffffffffffffULL);
  MacDigits::Digits digits{};
  for (std::size_t i = 0; i < digits.size(); ++i) digits[i] = text[i];
  return digits;
}

DbResult init_range(const std::string& url, const MacDigits::Digits& first,
                    const MacDigits::Digits& last) {
  std::int64_t low = address_value(first), high = address_value(last);
  if (low > high) return {Fault::kInvalid, "the range's first address lies after its last"};
  if (std::int64_t group = first_group_address(low, high); group >= 0)
    return {Fault::kInvalid, "the range holds group (multicast) addresses, " + digits_text(group) +
                                 " first: a board's address needs bit 0 of its first byte "
                                 "clear (the range must lie within one even first byte)"};
  Session session(url, "skav pool init");
  if (!session.opened().ok()) return session.opened();
  Runner run = [&session](const char* sql, const std::vector<std::string>& params) {
    return session.run(sql, params);
  };
  // Inits at once on a new database queue on the schema's lock: the one behind finds the tables
  // of the one before, and its range.
  int from = 0, to = 0;
  if (DbResult made = migrate_schema(run, from, to); !made.ok()) return made;
  Reply inserted = session.run("INSERT INTO skav_range VALUES (1, $1, $2, $1) ON CONFLICT (id) DO NOTHING "
                               "RETURNING id",
                               {std::to_string(low), std::to_string(high)});
  if (!inserted.ok) return DbResult::of(inserted, "cannot set the range");
  if (row_count(inserted.result) == 0) {
    Reply existing = session.run("SELECT first_address, last_address FROM skav_range");
    std::string range = existing.ok && row_count(existing.result) == 1
                            ? digits_text(cell_number(existing.result, 0, 0)) + "-" +
                                  digits_text(cell_number(existing.result, 0, 1))
                            : "?";
    return {Fault::kConflict,
            "the pool has a range already (" + range + "); a range once handed out is never replaced"};
  }
  return {};
}

PgAddressPool::PgAddressPool(std::string url, std::string station_host, std::string station_id,
                             std::filesystem::path dir, SocketWait& waits)
    : url_(std::move(url)),
      host_(std::move(station_host)),
      station_id_(std::move(station_id)),
      dir_(std::move(dir)),
      bounds_(waits) {
  if (!station_id_.empty() && !dir_.empty()) spool_ = dir_ / ("skav-spool-" + station_id_ + ".csv");
}

void PgAddressPool::add_pending(Pending pending) {
  for (const Pending& kept : pending_)
    if (kept.address == pending.address && kept.attempt == pending.attempt) return;
  pending_.push_back(std::move(pending));
}

Status PgAddressPool::load_spool() {
  if (spool_.empty() || spool_loaded_) return {};
  std::string text;
  bool exists = false;
  if (int err = platform::read_small_file(spool_, kMaxKeptFile, text, exists); err != 0)
    return Status::error(err, "cannot read the records kept for the database, " + spool_.string() +
                                  ": " + std::strerror(err));
  for (const Columns& row : named_rows(text)) {
    char* end = nullptr;
    std::string address = column(row, "address");
    long long value = std::strtoll(address.c_str(), &end, 10);
    if (address.empty() || *end != '\0') continue;
    add_pending(Pending{value, attempt_of_row(row), column(row, "adapter"), outcome_of_row(row)});
  }
  spool_loaded_ = true;
  return {};
}

PgAddressPool::Answer PgAddressPool::prepare(std::string& why) {
  if (prepared_) return Answer::kDone;
  if (!schema_ready_) {
    DbResult schema = ensure_schema(
        [this](const char* sql, const std::vector<std::string>& params) { return run(sql, params); },
        describe_url(url_));
    if (!schema.ok()) {
      why = schema.message();
      schema_fault_ = schema.fault();
      return schema.fault() == Fault::kTransient ? Answer::kUnavailable : Answer::kFailed;
    }
    schema_ready_ = true;
  }
  if (!station_id_.empty() && !dir_.empty()) {
    // A station killed between its local record and the database's commit left its address
    // without an outcome: the records file has it.
    Reply open = run(
                     "SELECT address FROM skav_addresses WHERE station_id = $1 AND outcome IS NULL",
                     {station_id_});
    if (!open.ok) {
      why = open.why;
      return open.transient() ? Answer::kUnavailable : Answer::kFailed;
    }
    std::set<std::int64_t> missing;
    for (int row = 0; row < row_count(open.result); ++row) missing.insert(cell_number(open.result, row, 0));
    for (const Pending& kept : pending_) missing.erase(kept.address);
    if (!missing.empty()) {
      std::string text;
      bool exists = false;
      platform::read_small_file(dir_ / station::kRecordsFile, kMaxKeptFile, text, exists);
      for (const Columns& row : named_rows(text)) {
        std::int64_t address = address_of_colon_text(column(row, "written_mac"));
        if (missing.count(address) == 0) continue;
        // Only a first run leaves the address without an outcome: a re-test needs one.
        if (attempt_of_row(row) != 1) continue;
        add_pending(Pending{address, 1, column(row, "adapter"), outcome_of_row(row)});
      }
    }
    // Refused (a role without rights on the re-tests) it is left to the board's next try.
    if (Answer closed = reconcile_retests(why); closed == Answer::kUnavailable) return closed;
  }
  // Open claims that nobody finished within the bound block their address's re-tests for good
  // (their station never came back, or has no identity to know them by): closed line-wide.
  Reply stale = run("UPDATE skav_retests SET outcome = $1, finished_at = now() "
                    "WHERE outcome IS NULL AND claimed_at < now() - make_interval(secs => $2)",
                    {station::verdict_name(station::Verdict::kNotRun), std::to_string(kStaleRetestClaim.count())});
  // Housekeeping only: a role without rights on the re-tests (granted before they existed)
  // still programs new boards; a claim closes such claims under the address's lock anyway.
  if (!stale.ok && stale.transient()) {
    why = stale.why;
    return Answer::kUnavailable;
  }
  prepared_ = true;
  return Answer::kDone;
}

PgAddressPool::Answer PgAddressPool::reconcile_retests(std::string& why) {
  // A re-test this station claimed before it was killed: its record, when the run got that far,
  // is in the spool or the records file; without one the run never ended, and the claim is
  // closed as not run so that the board's next try is a fresh attempt.
  Reply open = run("SELECT address, attempt FROM skav_retests WHERE station_id = $1 AND outcome IS NULL",
                   {station_id_});
  if (!open.ok) {
    why = open.why;
    return open.transient() ? Answer::kUnavailable : Answer::kFailed;
  }
  std::set<std::pair<std::int64_t, int>> unfinished;
  for (int row = 0; row < row_count(open.result); ++row)
    unfinished.emplace(cell_number(open.result, row, 0), static_cast<int>(cell_number(open.result, row, 1)));
  for (const Pending& kept : pending_) unfinished.erase({kept.address, kept.attempt});
  if (unfinished.empty()) return Answer::kDone;
  std::string text;
  bool exists = false;
  platform::read_small_file(dir_ / station::kRecordsFile, kMaxKeptFile, text, exists);
  for (const Columns& row : named_rows(text)) {
    const std::pair<std::int64_t, int> run_key{address_of_colon_text(column(row, "written_mac")), attempt_of_row(row)};
    if (unfinished.erase(run_key) == 0) continue;
    add_pending(Pending{run_key.first, run_key.second, column(row, "adapter"), outcome_of_row(row)});
  }
  for (const auto& [address, attempt] : unfinished) {
    Reply closed = run("UPDATE skav_retests SET outcome = $3, finished_at = now() "
                       "WHERE address = $1 AND attempt = $2 AND outcome IS NULL",
                       {std::to_string(address), std::to_string(attempt),
                        station::verdict_name(station::Verdict::kNotRun)});
    if (!closed.ok) {
      why = closed.why;
      return closed.transient() ? Answer::kUnavailable : Answer::kFailed;
    }
  }
  return Answer::kDone;
}

PgAddressPool::~PgAddressPool() {
  std::lock_guard lock(mutex_);
  start_call();
  std::string why;
  if (!pending_.empty()) send_pending(why);
  flush_unflushed(why);
  drop_connection();
}

bool PgAddressPool::connect(std::string& why, Fault* fault) {
  if (connection_.is_open()) return true;
  // What an earlier connection's server took without its disk may have gone with a crash.
  for (Pending& sent : unflushed_) add_pending(std::move(sent));
  unflushed_.clear();
  DbResult opened = connection_.open(url_, "skav station", until_);
  if (opened.ok()) {
    Reply set = run(kStatementTimeout);
    opened = DbResult::of(set, "cannot set the statement time-out");
  }
  if (opened.ok()) return true;
  why = opened.message();
  if (fault != nullptr) *fault = opened.fault();
  drop_connection();
  return false;
}

void PgAddressPool::drop_connection() { connection_.close(); }

void PgAddressPool::interrupt() { bounds_.stop(kStopGrace); }

void PgAddressPool::start_call() { until_ = bounds_.clock().now() + kCallLimit; }

Reply PgAddressPool::run(const char* sql, const std::vector<std::string>& params) {
  return connection_.run(sql, params, until_);
}

DbResult PgAddressPool::check_ready() {
  std::lock_guard lock(mutex_);
  start_call();
  if (Status loaded = load_spool(); !loaded.ok()) return {Fault::kOther, loaded.message()};
  std::string why;
  Fault fault = Fault::kNone;
  if (!connect(why, &fault)) {
    // A server that refuses this role or database does not change its mind by itself; one that
    // does not answer is waited for when a board comes.
    if (fault == Fault::kLogin) return {Fault::kLogin, "cannot use " + describe_url(url_) + ": " + why};
    return {};
  }
  Answer prepared = prepare(why);
  if (prepared == Answer::kUnavailable) {
    drop_connection();
    return {};
  }
  if (!schema_ready_) return {schema_fault_, why};
  Reply range = run("SELECT first_address, last_address FROM skav_range");
  if (!range.ok && range.transient()) {
    drop_connection();
    return {};
  }
  if (!range.ok || row_count(range.result) != 1)
    return {Fault::kMissing, describe_url(url_) + " has no address range (skav pool init)" +
                                 (range.ok ? std::string() : ": " + range.why)};
  if (prepared == Answer::kFailed) return {Fault::kOther, describe_url(url_) + ": " + why};
  // What was kept goes now; what cannot go now goes with the first board.
  send_pending(why);
  return {};
}

settings::PoolResult<MacDigits::Digits> PgAddressPool::read_next(Log*) {
  std::lock_guard lock(mutex_);
  start_call();
  std::string why;
  if (!connect(why)) return {settings::PoolCode::kUnavailable, describe_url(url_) + ": " + why};
  // A used-up range has no next address to show: the station's digits stay as they are.
  Reply range = run("SELECT next_address FROM skav_range WHERE next_address <= last_address");
  if (!range.ok) {
    if (range.transient()) drop_connection();
    return {settings::PoolCode::kUnavailable, describe_url(url_) + ": " + range.why};
  }
  if (row_count(range.result) != 1)
    return {settings::PoolCode::kExhausted, "the line's address range has no next address"};
  return {settings::PoolCode::kDone, {}, address_digits(cell_number(range.result, 0, 0))};
}

settings::PoolResult<> PgAddressPool::write_next(Log* log, const MacDigits::Digits&) {
  log_sink(log, "MAC address not changed: the line's address pool gives every board its address\r\n");
  return {settings::PoolCode::kRefused, "the line's address pool gives every board its address"};
}

PgAddressPool::Answer PgAddressPool::store_outcome(const Pending& pending, std::string& why) {
  if (!connect(why)) return Answer::kUnavailable;
  if (pending.attempt > 1) return store_retest_outcome(pending, why);
  std::string address = std::to_string(pending.address);
  // 'now' is the server's own word for the present, for a record without a time.
  std::vector<std::string> params = {address, host_, pending.port, "now", station_id_};
  std::string sql = "INSERT INTO skav_records (address, host, port, ended_at, station_id";
  std::string values = ") VALUES ($1::bigint, $2, $3, $4::timestamptz, NULLIF($5, '')";
  // The record's declared columns that the outcome has; the others stay NULL.
  for (const station::RecordColumn& column : station::kRecordColumns) {
    auto found = std::find_if(pending.outcome.columns.begin(), pending.outcome.columns.end(),
                              [&column](const auto& named) { return named.first == column.name; });
    if (found == pending.outcome.columns.end()) continue;
    // A record kept before the column existed has no value for it: NULL, not an empty text
    // that a number column would refuse.
    if (column.since > 1 && found->second.empty()) continue;
    if (std::string_view(column.name) == "time" && !found->second.empty()) params[3] = found->second;
    sql += ", " + quoted_name(column.name);
    params.push_back(found->second);
    values += ", $" + std::to_string(params.size()) + "::" + column.sql_type;
  }
  // A record sent again after its commit's answer was lost is already there. The outcome and
  // the record are one statement, so one transaction without a BEGIN and a COMMIT of their own:
  // one round trip a board instead of four. Sent again (its commit's answer lost, or from the
  // spool after a crash), the first outcome stays.
  // Its commit does not wait for the server's disk: the station's spool holds the record until
  // the next commit that does wait (the next reservation's claim) carries it to the disk, so
  // the line's commits wait for one flush a board instead of two.
  params.push_back(pending.outcome.verdict);
  sql = "WITH quick AS (SELECT set_config('synchronous_commit', 'off', true)), "
        "marked AS (UPDATE skav_addresses SET outcome = $" + std::to_string(params.size()) +
        ", finished_at = now() WHERE address = $1 AND outcome IS NULL) " + sql;
  values.replace(0, std::string_view(") VALUES (").size(), ") SELECT ");
  sql += values + " FROM quick ON CONFLICT (address) DO NOTHING";
  Reply stored = run(sql.c_str(), params);
  if (stored.ok) {
    unflushed_.push_back(pending);
    return Answer::kDone;
  }
  why = stored.why;
  if (stored.transient()) {
    drop_connection();
    return Answer::kUnavailable;
  }
  return Answer::kFailed;
}

PgAddressPool::Answer PgAddressPool::store_retest_outcome(const Pending& pending, std::string& why) {
  std::vector<std::string> params = {std::to_string(pending.address), std::to_string(pending.attempt),
                                     pending.outcome.verdict, "now"};
  std::string sql = "UPDATE skav_retests SET outcome = $3, finished_at = now()";
  for (const station::RecordColumn& column : station::kRecordColumns) {
    auto found = std::find_if(pending.outcome.columns.begin(), pending.outcome.columns.end(),
                              [&column](const auto& named) { return named.first == column.name; });
    if (found == pending.outcome.columns.end() || (column.since > 1 && found->second.empty())) continue;
    if (std::string_view(column.name) == "time" && !found->second.empty()) params[3] = found->second;
    params.push_back(found->second);
    sql += ", " + quoted_name(column.name) + " = $" + std::to_string(params.size()) + "::" + column.sql_type;
  }
  // Sent again (its answer lost, or from the spool after a crash): the first outcome stays.
  sql += ", ended_at = $4::timestamptz WHERE address = $1 AND attempt = $2 AND outcome IS NULL";
  Reply stored = run(sql.c_str(), params);
  if (stored.ok) {
    retests_.erase(pending.address);
    flushed();
    return Answer::kDone;
  }
  why = stored.why;
  if (stored.transient()) {
    drop_connection();
    return Answer::kUnavailable;
  }
  return Answer::kFailed;
}

PgAddressPool::Answer PgAddressPool::send_pending(std::string& why) {
  if (pending_.empty()) return Answer::kDone;
  if (!connect(why)) return Answer::kUnavailable;
  if (Answer prepared = prepare(why); prepared != Answer::kDone) return prepared;
  Answer result = Answer::kDone;
  while (!pending_.empty()) {
    Answer answer = store_outcome(pending_.front(), why);
    if (answer == Answer::kUnavailable) return answer;
    // A record the database refuses (not for want of a connection) would block every later
    // one: the station's own records file keeps it, and the next start tries it again.
    if (answer == Answer::kFailed) result = answer;
    pending_.pop_front();
  }
  if (unflushed_.empty()) flushed();
  return result;
}

void PgAddressPool::flushed() {
  unflushed_.clear();
  // All taken and on the server's disk: the spool has done its work. Removed, not emptied, so
  // that a crash leaves a whole spool or none. The removal is not waited onto the disk: a spool
  // a crash brings back is only sent again, and a record or outcome sent again changes nothing.
  if (pending_.empty() && !spool_.empty()) {
    std::error_code ignored;
    std::filesystem::remove(spool_, ignored);
  }
}

PgAddressPool::Answer PgAddressPool::flush_unflushed(std::string& why) {
  if (unflushed_.empty()) return Answer::kDone;
  if (!connect(why)) return Answer::kUnavailable;
  // A transaction with an identity commits with a record of its own, waited onto the disk
  // with all that came before it; it changes nothing.
  Reply barrier = run("SELECT txid_current()");
  if (!barrier.ok) {
    why = barrier.why;
    if (barrier.transient()) drop_connection();
    return Answer::kUnavailable;
  }
  flushed();
  return Answer::kDone;
}

settings::PoolResult<> PgAddressPool::finish(const settings::Reservation& reservation,
                                             const settings::BoardOutcome& outcome) {
  std::lock_guard lock(mutex_);
  start_call();
  std::string port;
  for (const auto& [name, text] : outcome.columns)
    if (name == "adapter") port = text;
  Pending pending{static_cast<std::int64_t>(reservation.id), reservation.attempt, port, outcome};
  // On disk before the board is called finished, so that neither a database away nor a
  // killed station loses it.
  if (!spool_.empty()) {
    if (int err = platform::append_synced(spool_, spool_header(), spool_line(pending.address, outcome));
        err != 0)
      return {settings::PoolCode::kUnavailable, "cannot keep the record for the line's database in " +
                                                    spool_.string() + ": " + std::strerror(err)};
  }
  add_pending(std::move(pending));
  std::string why;
  Answer answer = send_pending(why);
  if (answer == Answer::kUnavailable)
    return {settings::PoolCode::kKept, "the database does not answer (" + why +
                                           "); the record is kept and sent when it answers"};
  if (answer == Answer::kFailed)
    return {settings::PoolCode::kKept, "the database refused the record (" + why +
                                           "); it stays in the records file and is tried again at the next start"};
  return {};
}

settings::PoolResult<std::size_t> PgAddressPool::flush_outcomes() {
  std::lock_guard lock(mutex_);
  std::string why;
  send_pending(why);
  if (pending_.empty()) flush_unflushed(why);
  if (pending_.empty() && unflushed_.empty()) return {};
  return {settings::PoolCode::kKept, why, pending_.size() + unflushed_.size()};
}

std::size_t PgAddressPool::pending_records() const {
  std::lock_guard lock(mutex_);
  return pending_.size();
}

settings::PoolResult<settings::Reservation> PgAddressPool::reserve(Log*, const MacDigits::Digits& wanted,
                                                                   bool exact, const std::string& port) {
  std::lock_guard lock(mutex_);
  start_call();
  std::string why;
  if (!connect(why)) return {settings::PoolCode::kUnavailable, describe_url(url_) + ": " + why};
  Answer prepared = prepare(why);
  if (prepared == Answer::kUnavailable || (prepared == Answer::kDone && send_pending(why) == Answer::kUnavailable))
    return {settings::PoolCode::kUnavailable, describe_url(url_) + ": " + why};
  // A schema this station cannot use: no address from it.
  if (!schema_ready_) return {settings::PoolCode::kRefused, why};
  settings::Reservation out;
  settings::PoolResult<> result = reserve_locked(wanted, exact, port, out);
  if (result.code == settings::PoolCode::kUnavailable) drop_connection();
  if (!result.ok()) return result.as<settings::Reservation>();
  return {settings::PoolCode::kDone, {}, out};
}

settings::PoolResult<> PgAddressPool::reserve_locked(const MacDigits::Digits& wanted, bool exact,
                                                   const std::string& port,
                                                   settings::Reservation& out) {
  using settings::PoolCode;
  auto give_up = [this](Reply& reply) -> settings::PoolResult<> {
    run("ROLLBACK");
    if (reply.transient()) return {PoolCode::kUnavailable, describe_url(url_) + ": " + reply.why};
    if (reply.fault == Fault::kMissing)
      return {PoolCode::kRefused, "the database has no address range (skav pool init)"};
    return {PoolCode::kRefused, reply.why};
  };
  if (exact && !MacDigits::all_hex(wanted))
    return {PoolCode::kRefused, MacDigits::text(wanted) + " is not 12 hexadecimal digits"};
  if (in_doubt_ && (!exact || address_value(wanted) == in_doubt_->address)) {
    Reply kept = run("UPDATE skav_addresses SET port = $3, reserved_at = now() "
                     "WHERE address = $1 AND claim = $2 AND outcome IS NULL "
                     "RETURNING address, (SELECT last_address FROM skav_range)",
                     {std::to_string(in_doubt_->address), in_doubt_->claim, port});
    if (!kept.ok && kept.transient()) return {PoolCode::kUnavailable, describe_url(url_) + ": " + kept.why};
    std::int64_t address = in_doubt_->address;
    in_doubt_.reset();
    if (kept.ok && row_count(kept.result) == 1) {
      out.address = address_digits(address);
      out.next = address_digits(shown_next(address, address + 1, cell_number(kept.result, 0, 1)));
      out.id = static_cast<std::uint64_t>(address);
      return {};
    }
  }
  const std::string claim = new_claim();
  std::int64_t address = 0, next = 0, last = 0;
  if (exact) {
    Reply begun = run("BEGIN");
    if (!begun.ok) return give_up(begun);
    address = address_value(wanted);
    if (group_address(address)) {
      run("ROLLBACK");
      return {PoolCode::kRefused, MacDigits::text(wanted) + " is a group (multicast) address: no board gets one"};
    }
    Reply range = run("SELECT first_address, last_address, next_address FROM skav_range");
    if (!range.ok) return give_up(range);
    if (row_count(range.result) != 1) {
      run("ROLLBACK");
      return {PoolCode::kRefused, "the database has no address range (skav pool init)"};
    }
    std::int64_t first = cell_number(range.result, 0, 0);
    last = cell_number(range.result, 0, 1);
    next = cell_number(range.result, 0, 2);
    if (address < first || address > last) {
      run("ROLLBACK");
      return {PoolCode::kRefused, MacDigits::text(wanted) + " lies outside the line's range " +
                                      digits_text(first) + "-" + digits_text(last)};
    }
    Reply taken = run("INSERT INTO skav_addresses (address, host, port, claim, station_id) "
                      "VALUES ($1, $2, $3, $4, NULLIF($5, '')) ON CONFLICT (address) DO NOTHING RETURNING address",
                      {std::to_string(address), host_, port, claim, station_id_});
    if (!taken.ok) return give_up(taken);
    if (row_count(taken.result) == 0) {
      Reply holder = run("SELECT host, port, reserved_at FROM skav_addresses WHERE address = $1",
                         {std::to_string(address)});
      run("ROLLBACK");
      std::string by = holder.ok && row_count(holder.result) == 1
                           ? " (" + cell(holder.result, 0, 0) + " " + cell(holder.result, 0, 1) +
                                 ", " + cell(holder.result, 0, 2) + ")"
                           : "";
      return {PoolCode::kRefused, MacDigits::text(wanted) + " was handed out already" + by};
    }
    if (next == address) next = address + 1;
    Reply committed = run("COMMIT");
    if (!committed.ok) {
      // The server may have committed before the answer was lost: the address is then ours,
      // and the next reservation looks for it by its claim before it takes another.
      if (committed.transient()) in_doubt_ = InDoubt{address, claim};
      return give_up(committed);
    }
    flushed();
  } else {
    // The range's cursor queues the stations one behind the other on its row, so it is moved
    // in a transaction of its own that does not wait for the server's disk: its row lock lasts
    // a statement, not a flush. The address is durable with the claim's insert, which waits
    // for the disk and so for the cursor's step written before it; a cursor a crash sets back
    // only finds its addresses claimed (the key refuses them), and a claim that fails after
    // its step leaves a hole in the range, never an address twice. The key also skips what the
    // operators entered by hand ahead of the search.
    for (;;) {
      Reply step = run("WITH quick AS (SELECT set_config('synchronous_commit', 'off', true)) "
                       "UPDATE skav_range SET next_address = next_address + 1 FROM quick "
                       "WHERE id = 1 AND next_address <= last_address "
                       "RETURNING next_address - 1, first_address, last_address");
      if (!step.ok) return give_up(step);
      if (row_count(step.result) == 0) {
        Reply range = run("SELECT first_address, last_address FROM skav_range");
        if (!range.ok || row_count(range.result) != 1)
          return {PoolCode::kRefused, "the database has no address range (skav pool init)"};
        return {PoolCode::kExhausted, "the line's address range " + digits_text(cell_number(range.result, 0, 0)) +
                                          "-" + digits_text(cell_number(range.result, 0, 1)) +
                                          " is used up"};
      }
      address = cell_number(step.result, 0, 0);
      last = cell_number(step.result, 0, 2);
      next = address + 1;
      if (group_address(address)) {
        // A range set before such ranges were refused: the line stops rather than hand it out.
        return {PoolCode::kExhausted, "the line's address range reaches the group (multicast) address " +
                                          digits_text(address) + ", which no board gets"};
      }
      Reply taken = run("INSERT INTO skav_addresses (address, host, port, claim, station_id) "
                        "VALUES ($1, $2, $3, $4, NULLIF($5, '')) ON CONFLICT (address) DO NOTHING RETURNING address",
                        {std::to_string(address), host_, port, claim, station_id_});
      if (!taken.ok) {
        // Committed before the answer was lost, the address is ours: the next reservation
        // looks for it by its claim before it takes another.
        if (taken.transient()) in_doubt_ = InDoubt{address, claim};
        return give_up(taken);
      }
      if (row_count(taken.result) == 1) {
        flushed();
        break;
      }
    }
  }
  out.address = address_digits(address);
  out.next = address_digits(shown_next(address, next, last));
  out.id = static_cast<std::uint64_t>(address);
  return {};
}

settings::PoolResult<settings::Reservation> PgAddressPool::claim_retest(Log*, const MacDigits::Digits& address,
                                                                        const settings::BoardHistory&,
                                                                        const MacDigits::Digits& next,
                                                                        const std::string& port) {
  std::lock_guard lock(mutex_);
  start_call();
  std::string why;
  if (!MacDigits::all_hex(address)) return {settings::PoolCode::kUnset, {}};
  if (!connect(why)) return {settings::PoolCode::kUnavailable, describe_url(url_) + ": " + why};
  Answer prepared = prepare(why);
  if (prepared == Answer::kUnavailable || (prepared == Answer::kDone && send_pending(why) == Answer::kUnavailable))
    return {settings::PoolCode::kUnavailable, describe_url(url_) + ": " + why};
  if (!schema_ready_) return {settings::PoolCode::kRefused, why};
  const std::int64_t value = address_value(address);
  // What the database refused stays in the spool: its pass still counts.
  for (const Pending& kept : pending_)
    if (kept.address == value && kept.outcome.verdict == station::verdict_name(station::Verdict::kPass))
      return {settings::PoolCode::kRefused, "MAC address " + MacDigits::text(address) +
                                                " was programmed into a board that passed (its record waits to be sent)"};
  int attempt = 0;
  settings::PoolResult<> claimed = claim_locked(value, port, attempt);
  if (claimed.code == settings::PoolCode::kUnavailable) drop_connection();
  if (!claimed.ok()) return claimed.as<settings::Reservation>();
  retests_.insert(value);
  return {settings::PoolCode::kDone, {}, settings::Reservation{address, next, static_cast<std::uint64_t>(value), attempt}};
}

settings::PoolResult<> PgAddressPool::claim_locked(std::int64_t address, const std::string& port, int& attempt) {
  using settings::PoolCode;
  const std::string shown = digits_text(address);
  const std::string key = std::to_string(address);
  auto give_up = [this](Reply& reply) -> settings::PoolResult<> {
    run("ROLLBACK");
    if (reply.transient()) return {PoolCode::kUnavailable, describe_url(url_) + ": " + reply.why};
    return {PoolCode::kRefused, reply.why};
  };
  auto refuse = [this](std::string message) -> settings::PoolResult<> {
    run("ROLLBACK");
    return {PoolCode::kRefused, std::move(message)};
  };
  Reply begun = run("BEGIN");
  if (!begun.ok) return give_up(begun);
  // The address's row lock queues the claimers of one address on the whole line.
  Reply first = run("SELECT outcome IS NULL, coalesce(outcome, '') FROM skav_addresses WHERE address = $1 FOR UPDATE", {key});
  if (!first.ok) return give_up(first);
  if (row_count(first.result) != 1) {
    run("ROLLBACK");
    return {PoolCode::kUnset, {}};
  }
  const std::string pass = station::verdict_name(station::Verdict::kPass);
  if (cell(first.result, 0, 0) == "t")
    return refuse("MAC address " + shown + " is still being programmed (its first run has no outcome yet)");
  if (cell(first.result, 0, 1) == pass)
    return refuse("MAC address " + shown + " was programmed into a board that passed");
  // Under the address's lock: a claim left open past the bound is another board's no more.
  Reply stale = run("UPDATE skav_retests SET outcome = $2, finished_at = now() "
                    "WHERE address = $1 AND outcome IS NULL AND claimed_at < now() - make_interval(secs => $3)",
                    {key, station::verdict_name(station::Verdict::kNotRun), std::to_string(kStaleRetestClaim.count())});
  if (!stale.ok) return give_up(stale);
  Reply runs = run("SELECT coalesce(max(attempt), 1), coalesce(bool_or(outcome = $2), false), "
                   "coalesce(max(attempt) FILTER (WHERE outcome IS NULL), 0), "
                   "max(host || ' ' || port) FILTER (WHERE outcome IS NULL), "
                   "coalesce(bool_or(outcome IS NULL AND station_id = NULLIF($3, '')), false) "
                   "FROM skav_retests WHERE address = $1",
                   {key, pass, station_id_});
  if (!runs.ok) return give_up(runs);
  if (cell(runs.result, 0, 1) == "t")
    return refuse("MAC address " + shown + " was programmed into a board that passed");
  if (cell_number(runs.result, 0, 2) > 0) {
    // A re-test this station left open (killed mid-run) is its own to take over; one open
    // elsewhere is another board's.
    const bool ours = cell(runs.result, 0, 4) == "t" && retests_.count(address) == 0;
    if (!ours)
      return refuse("a re-test of MAC address " + shown + " is under way (" + cell(runs.result, 0, 3) + ")");
    attempt = static_cast<int>(cell_number(runs.result, 0, 2));
    Reply taken = run("UPDATE skav_retests SET host = $3, port = $4, claimed_at = now() "
                      "WHERE address = $1 AND attempt = $2 AND outcome IS NULL",
                      {key, std::to_string(attempt), host_, port});
    if (!taken.ok) return give_up(taken);
  } else {
    attempt = static_cast<int>(cell_number(runs.result, 0, 0)) + 1;
    Reply taken = run("INSERT INTO skav_retests (address, attempt, host, port, station_id) "
                      "VALUES ($1, $2, $3, $4, NULLIF($5, '')) ON CONFLICT DO NOTHING RETURNING attempt",
                      {key, std::to_string(attempt), host_, port, station_id_});
    if (!taken.ok) return give_up(taken);
    if (row_count(taken.result) != 1) return refuse("a re-test of MAC address " + shown + " is under way");
  }
  Reply committed = run("COMMIT");
  // Not answered: the claim may stand; this station takes it over at the board's next try.
  if (!committed.ok) return give_up(committed);
  flushed();
  return {};
}

}  // namespace skav::postgres

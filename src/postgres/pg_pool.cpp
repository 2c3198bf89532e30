#include "postgres/pg_pool.h"

#include <libpq-fe.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <cstring>
#include <random>
#include <set>

#include "core/platform/files.h"
#include "core/settings/settings_store.h"
#include "core/station/records.h"

namespace skav::postgres {

namespace {

// Every wait on the server is bounded: the connection (seconds), a statement (it may wait for
// another station's short transaction on the range), and unacknowledged TCP data (ms).
constexpr const char* kConnectTimeout = "5";
constexpr const char* kStatementTimeout = "SET statement_timeout = 15000";
constexpr const char* kTcpUserTimeout = "15000";
// The spool and the records file are read whole; a year of a line's records is a few MB.
constexpr std::size_t kMaxKeptFile = std::size_t{256} << 20;

struct ResultFree {
  void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

struct ConninfoFree {
  void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};

// Server errors after which the same request may well succeed later: the connection or the
// server went away, the server is starting or shutting down, out of resources, a statement
// time-out, a serialisation failure or a deadlock.
bool transient_state(const std::string& state) {
  return state.starts_with("08") || state.starts_with("53") || state.starts_with("57P") ||
         state.starts_with("40") || state == "57014";
}

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// One request to the server and how it ended.
struct Reply {
  Result result;
  bool ok = false;
  bool transient = false;  // the request may succeed later (or the connection broke)
  std::string state;       // SQLSTATE of a failure
  std::string why;         // the server's message of a failure
};

Reply run(PGconn* connection, const char* sql, const std::vector<std::string>& params = {}) {
  std::vector<const char*> values;
  for (const std::string& p : params) values.push_back(p.c_str());
  Reply reply;
  reply.result.reset(PQexecParams(connection, sql, static_cast<int>(values.size()), nullptr,
                                  values.data(), nullptr, nullptr, 0));
  ExecStatusType status = reply.result ? PQresultStatus(reply.result.get()) : PGRES_FATAL_ERROR;
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
    reply.ok = true;
    return reply;
  }
  if (reply.result) {
    const char* state = PQresultErrorField(reply.result.get(), PG_DIAG_SQLSTATE);
    if (state != nullptr) reply.state = state;
    reply.why = trimmed(PQresultErrorMessage(reply.result.get()));
  }
  if (reply.why.empty()) reply.why = trimmed(PQerrorMessage(connection));
  reply.transient = PQstatus(connection) == CONNECTION_BAD || reply.state.empty() ||
                    transient_state(reply.state);
  return reply;
}

std::string value(const Result& result, int row, int column) {
  return PQgetisnull(result.get(), row, column) ? std::string() : PQgetvalue(result.get(), row, column);
}

std::int64_t number(const Result& result, int row, int column) {
  return std::strtoll(PQgetvalue(result.get(), row, column), nullptr, 10);
}

std::string digits_text(std::int64_t value) { return MacDigits::text(address_digits(value)); }

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

// The server's notices ("relation ... already exists, skipping") are not for the operator.
void quiet(void*, const char*) {}

// Connects with bounded waits; the URL's own settings come last and win.
PGconn* open_connection(const std::string& url, const char* name, std::string& why) {
  const char* keys[] = {"connect_timeout", "tcp_user_timeout", "application_name", "dbname", nullptr};
  const char* values[] = {kConnectTimeout, kTcpUserTimeout, name, url.c_str(), nullptr};
  PGconn* connection = PQconnectdbParams(keys, values, 1);
  if (connection == nullptr) {
    why = "out of memory";
    return nullptr;
  }
  if (PQstatus(connection) != CONNECTION_OK) {
    why = trimmed(PQerrorMessage(connection));
    PQfinish(connection);
    return nullptr;
  }
  PQsetNoticeProcessor(connection, quiet, nullptr);
  return connection;
}

// A short-lived connection for the line's commands (init, status, records).
class Session {
 public:
  explicit Session(const std::string& url) {
    connection_ = open_connection(url, "skav", why_);
    if (connection_ != nullptr) run(connection_, kStatementTimeout);
  }
  ~Session() {
    if (connection_) PQfinish(connection_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  bool ok() const { return why_.empty(); }
  Status failure(const std::string& url) const {
    return Status::error(EIO, "cannot connect to " + describe_url(url) + ": " + why_);
  }
  PGconn* get() const { return connection_; }

 private:
  PGconn* connection_ = nullptr;
  std::string why_;
};

Status failed(const char* what, const Reply& reply) {
  return Status::error(EIO, std::string(what) + ": " + reply.why);
}

// An identifier quoted for SQL ("written_mac").
std::string quoted_name(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// The production record's columns, as the records table has them.
std::vector<std::string> record_column_names() {
  std::vector<std::string> names;
  std::string header = station::records_header();
  std::size_t start = 0;
  while (start < header.size()) {
    std::size_t end = header.find_first_of(",\n", start);
    names.push_back(header.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

// The spool: a header, then per record its address and the production record's columns.
std::string spool_header() { return "address," + station::records_header(); }

std::string spool_line(std::int64_t address, const settings::BoardOutcome& outcome) {
  std::string line = std::to_string(address);
  for (const auto& [name, text] : outcome.columns) line += "," + station::csv_field(text);
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

// The production record's columns of a row, in the record's own order.
settings::BoardOutcome outcome_of_row(const Columns& row) {
  settings::BoardOutcome outcome;
  outcome.verdict = column(row, "verdict");
  for (const std::string& name : record_column_names()) outcome.columns.emplace_back(name, column(row, name));
  return outcome;
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

bool is_postgres_url(const std::string& url) {
  return url.starts_with("postgresql://") || url.starts_with("postgres://");
}

Status check_url(const std::string& url) {
  if (!is_postgres_url(url))
    return Status::error(EINVAL, "a PostgreSQL pool URL starts with postgresql://");
  char* error = nullptr;
  std::unique_ptr<PQconninfoOption, ConninfoFree> options(PQconninfoParse(url.c_str(), &error));
  if (!options) {
    std::string why = error ? trimmed(error) : "out of memory";
    PQfreemem(error);
    return Status::error(EINVAL, "the pool URL does not parse: " + why);
  }
  for (PQconninfoOption* o = options.get(); o->keyword != nullptr; ++o) {
    if (std::string(o->keyword) == "password" && o->val != nullptr && o->val[0] != '\0')
      return Status::error(EINVAL,
                           "the pool URL carries a password; leave it out and put it in "
                           "~/.pgpass, PGPASSWORD or a service file (pg_service.conf)");
  }
  return {};
}

std::string describe_url(const std::string& url) {
  std::unique_ptr<PQconninfoOption, ConninfoFree> options(PQconninfoParse(url.c_str(), nullptr));
  if (!options) return "the pool database";
  std::string database, user, host, port;
  for (PQconninfoOption* o = options.get(); o->keyword != nullptr; ++o) {
    std::string key = o->keyword;
    std::string val = o->val ? o->val : "";
    if (key == "dbname") database = val;
    if (key == "user") user = val;
    if (key == "host") host = val;
    if (key == "port") port = val;
  }
  std::string text = "database " + (database.empty() ? std::string("(default)") : database);
  if (!user.empty()) text += " as " + user;
  if (!host.empty()) text += " on " + host;
  if (!port.empty()) text += " port " + port;
  return text;
}

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

Status init_range(const std::string& url, const MacDigits::Digits& first,
                  const MacDigits::Digits& last) {
  std::int64_t low = address_value(first), high = address_value(last);
  if (low > high)
    return Status::error(EINVAL, "the range's first address lies after its last");
  Session session(url);
  if (!session.ok()) return session.failure(url);
  std::string records = "CREATE TABLE IF NOT EXISTS skav_records ("
                        "address bigint PRIMARY KEY REFERENCES skav_addresses, "
                        "host text NOT NULL, port text NOT NULL, ended_at timestamptz NOT NULL, "
                        "station_id text";
  for (const std::string& name : record_column_names()) records += ", " + quoted_name(name) + " text";
  records += ")";
  const std::string statements[] = {
      "BEGIN",
      // One row: the range, and where the search for the next free address starts.
      "CREATE TABLE IF NOT EXISTS skav_range (id int PRIMARY KEY CHECK (id = 1), "
      "first_address bigint NOT NULL, last_address bigint NOT NULL, next_address bigint NOT NULL, "
      "CHECK (first_address <= last_address))",
      // One row per address ever handed out; the key keeps it from being handed out twice.
      "CREATE TABLE IF NOT EXISTS skav_addresses (address bigint PRIMARY KEY, host text NOT NULL, "
      "port text NOT NULL, reserved_at timestamptz NOT NULL DEFAULT now(), outcome text, "
      "finished_at timestamptz, claim text, station_id text)",
      records,
      // Tables made before stations had an identity.
      "ALTER TABLE skav_addresses ADD COLUMN IF NOT EXISTS station_id text",
      "ALTER TABLE skav_records ADD COLUMN IF NOT EXISTS station_id text",
      "CREATE INDEX IF NOT EXISTS skav_records_ended_at ON skav_records (ended_at)",
  };
  for (const std::string& sql : statements) {
    Reply reply = run(session.get(), sql.c_str());
    if (!reply.ok) return failed("cannot create the pool's tables", reply);
  }
  Reply inserted = run(session.get(),
                       "INSERT INTO skav_range VALUES (1, $1, $2, $1) ON CONFLICT (id) DO NOTHING "
                       "RETURNING id",
                       {std::to_string(low), std::to_string(high)});
  if (!inserted.ok) return failed("cannot set the range", inserted);
  if (PQntuples(inserted.result.get()) == 0) {
    run(session.get(), "ROLLBACK");
    Reply existing = run(session.get(), "SELECT first_address, last_address FROM skav_range");
    std::string range = existing.ok && PQntuples(existing.result.get()) == 1
                            ? digits_text(number(existing.result, 0, 0)) + "-" +
                                  digits_text(number(existing.result, 0, 1))
                            : "?";
    return Status::error(EEXIST, "the pool has a range already (" + range +
                                     "); a range once handed out is never replaced");
  }
  Reply committed = run(session.get(), "COMMIT");
  if (!committed.ok) return failed("cannot set the range", committed);
  return {};
}

Status read_status(const std::string& url, RangeStatus& out) {
  Session session(url);
  if (!session.ok()) return session.failure(url);
  // One snapshot of the tables for all the figures.
  run(session.get(), "BEGIN ISOLATION LEVEL REPEATABLE READ");
  Reply range = run(session.get(), "SELECT first_address, last_address, next_address FROM skav_range");
  if (!range.ok) {
    if (range.state == "42P01") return Status::error(ENOENT, "the database has no address range (skav pool init)");
    return failed("cannot read the range", range);
  }
  if (PQntuples(range.result.get()) != 1)
    return Status::error(ENOENT, "the database has no address range (skav pool init)");
  out = RangeStatus{};
  out.first = number(range.result, 0, 0);
  out.last = number(range.result, 0, 1);
  out.next = number(range.result, 0, 2);
  Reply counts = run(session.get(),
                     "SELECT count(*) FILTER (WHERE address BETWEEN $1 AND $2), "
                     "count(*) FILTER (WHERE outcome IS NOT NULL) FROM skav_addresses",
                     {std::to_string(out.first), std::to_string(out.last)});
  if (!counts.ok) return failed("cannot count the addresses", counts);
  out.used = number(counts.result, 0, 0);
  out.finished = number(counts.result, 0, 1);
  out.free = out.last - out.first + 1 - out.used;
  Reply last = run(session.get(),
                   "SELECT address, host, port, reserved_at FROM skav_addresses "
                   "ORDER BY reserved_at DESC, address DESC LIMIT 1");
  if (!last.ok) return failed("cannot read the last address", last);
  if (PQntuples(last.result.get()) == 1) {
    out.last_handed = number(last.result, 0, 0);
    out.last_host = value(last.result, 0, 1);
    out.last_port = value(last.result, 0, 2);
    out.last_time = value(last.result, 0, 3);
  }
  Reply stations = run(session.get(),
                       "SELECT host, port, count(*), count(outcome), "
                       "(array_agg(address ORDER BY reserved_at DESC, address DESC))[1], max(reserved_at) "
                       "FROM skav_addresses GROUP BY host, port ORDER BY host, port");
  if (!stations.ok) return failed("cannot read the stations", stations);
  for (int row = 0; row < PQntuples(stations.result.get()); ++row) {
    StationUse use;
    use.host = value(stations.result, row, 0);
    use.port = value(stations.result, row, 1);
    use.reserved = number(stations.result, row, 2);
    use.finished = number(stations.result, row, 3);
    use.last = number(stations.result, row, 4);
    use.last_time = value(stations.result, row, 5);
    out.stations.push_back(std::move(use));
  }
  run(session.get(), "COMMIT");
  return {};
}

Status read_records(const std::string& url, const std::string& since, RecordTable& out) {
  Session session(url);
  if (!session.ok()) return session.failure(url);
  out = RecordTable{};
  out.columns = {"host", "port"};
  for (const std::string& name : record_column_names()) out.columns.push_back(name);
  std::string sql = "SELECT ";
  for (std::size_t i = 0; i < out.columns.size(); ++i)
    sql += (i > 0 ? ", " : "") + quoted_name(out.columns[i]);
  sql += " FROM skav_records";
  std::vector<std::string> params;
  if (!since.empty()) {
    sql += " WHERE ended_at >= $1::timestamptz";
    params.push_back(since);
  }
  sql += " ORDER BY ended_at, address";
  Reply rows = run(session.get(), sql.c_str(), params);
  if (!rows.ok) {
    if (rows.state == "42P01") return Status::error(ENOENT, "the database has no records table (skav pool init)");
    if (rows.state.starts_with("22")) return Status::error(EINVAL, "--since: " + rows.why);
    return failed("cannot read the records", rows);
  }
  for (int row = 0; row < PQntuples(rows.result.get()); ++row) {
    std::vector<std::string> texts;
    for (std::size_t column = 0; column < out.columns.size(); ++column)
      texts.push_back(value(rows.result, row, static_cast<int>(column)));
    out.rows.push_back(std::move(texts));
  }
  return {};
}

PgAddressPool::PgAddressPool(std::string url, std::string station_host, std::string station_id,
                             std::filesystem::path dir)
    : url_(std::move(url)),
      host_(std::move(station_host)),
      station_id_(std::move(station_id)),
      dir_(std::move(dir)) {
  if (!station_id_.empty() && !dir_.empty()) spool_ = dir_ / ("skav-spool-" + station_id_ + ".csv");
}

void PgAddressPool::add_pending(Pending pending) {
  for (const Pending& kept : pending_)
    if (kept.address == pending.address) return;
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
    add_pending(Pending{value, column(row, "adapter"), outcome_of_row(row)});
  }
  spool_loaded_ = true;
  return {};
}

PgAddressPool::Answer PgAddressPool::prepare(std::string& why) {
  if (prepared_) return Answer::kDone;
  // A database made before stations had an identity gets its columns; looked up first, so that
  // a station whose role may not alter the tables still works on one that has them.
  Reply has = run(connection_,
                  "SELECT count(*) FROM information_schema.columns WHERE table_schema = current_schema() "
                  "AND table_name IN ('skav_addresses', 'skav_records') AND column_name = 'station_id'");
  if (!has.ok) {
    why = has.why;
    return has.transient ? Answer::kUnavailable : Answer::kFailed;
  }
  if (number(has.result, 0, 0) < 2) {
    for (const char* sql : {"ALTER TABLE skav_addresses ADD COLUMN IF NOT EXISTS station_id text",
                            "ALTER TABLE skav_records ADD COLUMN IF NOT EXISTS station_id text"}) {
      Reply altered = run(connection_, sql);
      if (!altered.ok) {
        why = "cannot add the station identity column: " + altered.why;
        return altered.transient ? Answer::kUnavailable : Answer::kFailed;
      }
    }
  }
  if (!station_id_.empty() && !dir_.empty()) {
    // A station killed between its local record and the database's commit left its address
    // without an outcome: the records file has it.
    Reply open = run(connection_,
                     "SELECT address FROM skav_addresses WHERE station_id = $1 AND outcome IS NULL",
                     {station_id_});
    if (!open.ok) {
      why = open.why;
      return open.transient ? Answer::kUnavailable : Answer::kFailed;
    }
    std::set<std::int64_t> missing;
    for (int row = 0; row < PQntuples(open.result.get()); ++row) missing.insert(number(open.result, row, 0));
    for (const Pending& kept : pending_) missing.erase(kept.address);
    if (!missing.empty()) {
      std::string text;
      bool exists = false;
      platform::read_small_file(dir_ / station::kRecordsFile, kMaxKeptFile, text, exists);
      for (const Columns& row : named_rows(text)) {
        std::int64_t address = address_of_colon_text(column(row, "written_mac"));
        if (missing.count(address) == 0) continue;
        add_pending(Pending{address, column(row, "adapter"), outcome_of_row(row)});
      }
    }
  }
  prepared_ = true;
  return Answer::kDone;
}

PgAddressPool::~PgAddressPool() {
  std::lock_guard lock(mutex_);
  std::string why;
  if (!pending_.empty()) send_pending(why);
  drop_connection();
}

bool PgAddressPool::connect(std::string& why) {
  if (connection_ != nullptr && PQstatus(connection_) == CONNECTION_OK) return true;
  drop_connection();
  connection_ = open_connection(url_, "skav station", why);
  if (connection_ == nullptr) return false;
  Reply set = run(connection_, kStatementTimeout);
  if (!set.ok) {
    why = set.why;
    drop_connection();
    return false;
  }
  return true;
}

void PgAddressPool::drop_connection() {
  if (connection_ != nullptr) PQfinish(connection_);
  connection_ = nullptr;
}

Status PgAddressPool::check_ready() {
  std::lock_guard lock(mutex_);
  if (Status loaded = load_spool(); !loaded.ok()) return loaded;
  std::string why;
  if (!connect(why)) {
    // A server that refuses this role or database will not change its mind by itself.
    if (why.find("does not exist") != std::string::npos ||
        why.find("authentication failed") != std::string::npos ||
        why.find("no password supplied") != std::string::npos ||
        why.find("no pg_hba.conf entry") != std::string::npos)
      return Status::error(EACCES, "cannot use " + describe_url(url_) + ": " + why);
    return {};
  }
  Reply range = run(connection_, "SELECT first_address, last_address FROM skav_range");
  if (!range.ok && !range.transient)
    return Status::error(ENOENT, describe_url(url_) + " has no address range (skav pool init): " + range.why);
  if (range.ok && PQntuples(range.result.get()) != 1)
    return Status::error(ENOENT, describe_url(url_) + " has no address range (skav pool init)");
  if (!range.ok) {
    drop_connection();
    return {};
  }
  // What was kept goes now; what cannot go now goes with the first board.
  Answer prepared = prepare(why);
  if (prepared == Answer::kFailed) return Status::error(EIO, describe_url(url_) + ": " + why);
  if (prepared == Answer::kDone) send_pending(why);
  return {};
}

int PgAddressPool::read_next(Log*, MacDigits::Digits& digits) {
  std::lock_guard lock(mutex_);
  std::string why;
  if (!connect(why)) return settings::kOk;
  Reply range = run(connection_, "SELECT least(next_address, last_address) FROM skav_range");
  if (!range.ok) {
    if (range.transient) drop_connection();
    return settings::kOk;
  }
  if (PQntuples(range.result.get()) == 1) digits = address_digits(number(range.result, 0, 0));
  return settings::kOk;
}

int PgAddressPool::write_next(Log* log, const MacDigits::Digits&) {
  log_sink(log, "MAC address not changed: the line's address pool gives every board its address\r\n");
  return EPERM;
}

PgAddressPool::Answer PgAddressPool::store_outcome(const Pending& pending, std::string& why) {
  if (!connect(why)) return Answer::kUnavailable;
  std::string address = std::to_string(pending.address);
  // 'now' is the server's own word for the present, for a record without a time.
  std::vector<std::string> params = {address, host_, pending.port, "now", station_id_};
  std::string sql = "INSERT INTO skav_records (address, host, port, ended_at, station_id";
  std::string values = ") VALUES ($1, $2, $3, $4::timestamptz, NULLIF($5, '')";
  for (const auto& [name, text] : pending.outcome.columns) {
    if (name == "time" && !text.empty()) params[3] = text;
    sql += ", " + quoted_name(name);
    params.push_back(text);
    values += ", $" + std::to_string(params.size());
  }
  // A record sent again after its commit's answer was lost is already there.
  sql += values + ") ON CONFLICT (address) DO NOTHING";
  Reply begun = run(connection_, "BEGIN");
  Reply marked = begun.ok ? run(connection_,
                                // Sent again (its commit's answer lost, or from the spool
                                // after a crash): the first outcome stays.
                                "UPDATE skav_addresses SET outcome = $2, finished_at = now() "
                                "WHERE address = $1 AND outcome IS NULL",
                                {address, pending.outcome.verdict})
                          : std::move(begun);
  Reply stored = marked.ok ? run(connection_, sql.c_str(), params) : std::move(marked);
  Reply committed = stored.ok ? run(connection_, "COMMIT") : std::move(stored);
  if (committed.ok) return Answer::kDone;
  why = committed.why;
  if (committed.transient) {
    drop_connection();
    return Answer::kUnavailable;
  }
  run(connection_, "ROLLBACK");
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
  // All taken: the spool has done its work. Removed, not emptied, so that a crash leaves a
  // whole spool or none.
  if (!spool_.empty()) {
    std::error_code ignored;
    if (std::filesystem::remove(spool_, ignored)) platform::sync_folder(spool_.parent_path());
  }
  return result;
}

Status PgAddressPool::finish(const settings::Reservation& reservation,
                             const settings::BoardOutcome& outcome) {
  std::lock_guard lock(mutex_);
  std::string port;
  for (const auto& [name, text] : outcome.columns)
    if (name == "adapter") port = text;
  Pending pending{static_cast<std::int64_t>(reservation.id), port, outcome};
  // On disk before the board is called finished, so that neither a database away nor a
  // killed station loses it.
  if (!spool_.empty()) {
    if (int err = platform::append_synced(spool_, spool_header(), spool_line(pending.address, outcome));
        err != 0)
      return Status::error(err, "cannot keep the record for the line's database in " + spool_.string() +
                                    ": " + std::strerror(err));
  }
  add_pending(std::move(pending));
  std::string why;
  Answer answer = send_pending(why);
  if (answer == Answer::kUnavailable)
    return Status::error(EAGAIN, "the database does not answer (" + why +
                                     "); the record is kept and sent when it answers");
  if (answer == Answer::kFailed)
    return Status::error(EAGAIN, "the database refused the record (" + why +
                                     "); it stays in the records file and is tried again at the next start");
  return {};
}

std::size_t PgAddressPool::flush_outcomes(std::string& why) {
  std::lock_guard lock(mutex_);
  send_pending(why);
  return pending_.size();
}

std::size_t PgAddressPool::pending_records() const {
  std::lock_guard lock(mutex_);
  return pending_.size();
}

settings::PoolResult PgAddressPool::reserve(Log*, const MacDigits::Digits& wanted, bool exact,
                                            const std::string& port, settings::Reservation& out) {
  std::lock_guard lock(mutex_);
  std::string why;
  if (!connect(why)) return {settings::PoolCode::kUnavailable, describe_url(url_) + ": " + why};
  if (send_pending(why) == Answer::kUnavailable || prepare(why) == Answer::kUnavailable)
    return {settings::PoolCode::kUnavailable, describe_url(url_) + ": " + why};
  settings::PoolResult result = reserve_locked(wanted, exact, port, out);
  if (result.code == settings::PoolCode::kUnavailable) drop_connection();
  return result;
}

settings::PoolResult PgAddressPool::reserve_locked(const MacDigits::Digits& wanted, bool exact,
                                                   const std::string& port,
                                                   settings::Reservation& out) {
  using settings::PoolCode;
  auto give_up = [this](Reply& reply) -> settings::PoolResult {
    run(connection_, "ROLLBACK");
    if (reply.transient) return {PoolCode::kUnavailable, describe_url(url_) + ": " + reply.why};
    if (reply.state == "42P01")
      return {PoolCode::kRefused, "the database has no address range (skav pool init)"};
    return {PoolCode::kRefused, reply.why};
  };
  if (exact && !MacDigits::all_hex(wanted))
    return {PoolCode::kRefused, MacDigits::text(wanted) + " is not 12 hexadecimal digits"};
  if (in_doubt_ && (!exact || address_value(wanted) == in_doubt_->address)) {
    Reply kept = run(connection_,
                     "UPDATE skav_addresses SET port = $3, reserved_at = now() "
                     "WHERE address = $1 AND claim = $2 AND outcome IS NULL RETURNING address",
                     {std::to_string(in_doubt_->address), in_doubt_->claim, port});
    if (!kept.ok && kept.transient) return {PoolCode::kUnavailable, describe_url(url_) + ": " + kept.why};
    std::int64_t address = in_doubt_->address;
    in_doubt_.reset();
    if (kept.ok && PQntuples(kept.result.get()) == 1) {
      out.address = address_digits(address);
      out.next = address_digits(address + 1);
      out.id = static_cast<std::uint64_t>(address);
      return {};
    }
  }
  const std::string claim = new_claim();
  Reply begun = run(connection_, "BEGIN");
  if (!begun.ok) return give_up(begun);
  std::int64_t address = 0, next = 0;
  if (exact) {
    address = address_value(wanted);
    Reply range = run(connection_, "SELECT first_address, last_address, next_address FROM skav_range");
    if (!range.ok) return give_up(range);
    if (PQntuples(range.result.get()) != 1) {
      run(connection_, "ROLLBACK");
      return {PoolCode::kRefused, "the database has no address range (skav pool init)"};
    }
    std::int64_t first = number(range.result, 0, 0), last = number(range.result, 0, 1);
    next = number(range.result, 0, 2);
    if (address < first || address > last) {
      run(connection_, "ROLLBACK");
      return {PoolCode::kRefused, MacDigits::text(wanted) + " lies outside the line's range " +
                                      digits_text(first) + "-" + digits_text(last)};
    }
    Reply taken = run(connection_,
                      "INSERT INTO skav_addresses (address, host, port, claim, station_id) "
                      "VALUES ($1, $2, $3, $4, NULLIF($5, '')) ON CONFLICT (address) DO NOTHING RETURNING address",
                      {std::to_string(address), host_, port, claim, station_id_});
    if (!taken.ok) return give_up(taken);
    if (PQntuples(taken.result.get()) == 0) {
      Reply holder = run(connection_,
                         "SELECT host, port, reserved_at FROM skav_addresses WHERE address = $1",
                         {std::to_string(address)});
      run(connection_, "ROLLBACK");
      std::string by = holder.ok && PQntuples(holder.result.get()) == 1
                           ? " (" + value(holder.result, 0, 0) + " " + value(holder.result, 0, 1) +
                                 ", " + value(holder.result, 0, 2) + ")"
                           : "";
      return {PoolCode::kRefused, MacDigits::text(wanted) + " was handed out already" + by};
    }
    if (next == address) next = address + 1;
  } else {
    // The row lock of the UPDATE queues the stations one behind the other; the address key
    // skips what the operators entered by hand ahead of the search.
    for (;;) {
      Reply step = run(connection_,
                       "UPDATE skav_range SET next_address = next_address + 1 "
                       "WHERE id = 1 AND next_address <= last_address "
                       "RETURNING next_address - 1, first_address, last_address");
      if (!step.ok) return give_up(step);
      if (PQntuples(step.result.get()) == 0) {
        Reply range = run(connection_, "SELECT first_address, last_address FROM skav_range");
        run(connection_, "ROLLBACK");
        if (!range.ok || PQntuples(range.result.get()) != 1)
          return {PoolCode::kRefused, "the database has no address range (skav pool init)"};
        return {PoolCode::kExhausted, "the line's address range " + digits_text(number(range.result, 0, 0)) +
                                          "-" + digits_text(number(range.result, 0, 1)) +
                                          " is used up"};
      }
      address = number(step.result, 0, 0);
      next = address + 1;
      Reply taken = run(connection_,
                        "INSERT INTO skav_addresses (address, host, port, claim, station_id) "
                        "VALUES ($1, $2, $3, $4, NULLIF($5, '')) ON CONFLICT (address) DO NOTHING RETURNING address",
                        {std::to_string(address), host_, port, claim, station_id_});
      if (!taken.ok) return give_up(taken);
      if (PQntuples(taken.result.get()) == 1) break;
    }
  }
  Reply committed = run(connection_, "COMMIT");
  if (!committed.ok) {
    // The server may have committed before the answer was lost: the address is then ours, and
    // the next reservation looks for it by its claim before it takes another.
    if (committed.transient) in_doubt_ = InDoubt{address, claim};
    return give_up(committed);
  }
  out.address = address_digits(address);
  out.next = address_digits(next);
  out.id = static_cast<std::uint64_t>(address);
  return {};
}

}  // namespace skav::postgres

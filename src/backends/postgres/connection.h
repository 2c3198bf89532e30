#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/clock.h"
#include "core/status.h"

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;

namespace skav::postgres {

// How long a station gives the database: a connection, and one call of the pool as a whole (its
// connection, statements and commit). A call that has not ended by then is cancelled and the
// database counted as away, so "unavailable" is said within 15 s.
inline constexpr std::chrono::seconds kConnectLimit{5};
inline constexpr std::chrono::seconds kCallLimit{12};
// What a stopping process still gives the database (to send what it can), and what a cancel
// request may take.
inline constexpr std::chrono::seconds kStopGrace{1};
inline constexpr std::chrono::seconds kCancelLimit{1};
// The server ends a statement the station has given up on by itself, too.
inline constexpr const char* kStatementTimeout = "SET statement_timeout = 12000";

// Waits for a socket. The system's polls; tests hand in one that lets time pass on a
// ManualClock instead of waiting.
class SocketWait {
 public:
  virtual ~SocketWait() = default;
  virtual Clock& clock() = 0;
  // Waits at most `at_most` for `socket` to become readable (writable when `write`; a closed
  // peer counts as ready). True when it is.
  virtual bool wait(int socket, bool write, Clock::duration at_most) = 0;
};
SocketWait& system_wait();

// The bounds of every database wait of one pool: each call's own limit, brought forward for
// good once the process stops. Any thread may call stop(); waits notice it within 100 ms.
class Bounds {
 public:
  explicit Bounds(SocketWait& waits = system_wait()) : waits_(waits) {}
  SocketWait& waits() const { return waits_; }
  Clock& clock() const { return waits_.clock(); }
  // From now on every wait ends within `grace`.
  void stop(Clock::duration grace);
  bool stopping() const;
  // `limit`, or the stop's cut-off when that comes first.
  Clock::time_point end(Clock::time_point limit) const;
  // Waits for `socket` until `until` (or the cut-off). True when ready, false when time ran out.
  bool wait(int socket, bool write, Clock::time_point until) const;

 private:
  SocketWait& waits_;
  std::atomic<Clock::duration::rep> cutoff_{Clock::duration::max().count()};
};

struct ResultFree {
  void operator()(PGresult* result) const;
};
using Result = std::unique_ptr<PGresult, ResultFree>;

// Why a request to the database failed, as the station acts on it.
enum class Fault {
  kNone,
  // The same request may well succeed later: no connection, the connection or the server went
  // away, the server is starting or shutting down, out of resources, no answer in time, a
  // serialisation failure or a deadlock.
  kTransient,
  // The server refused this role or database at log-in (unknown role or database, failed
  // authentication, no entry for it): it does not change by itself.
  kLogin,
  kPermission,  // the role may not do this (SQLSTATE 42501)
  kMissing,     // a table, column or function is not there (42P01, 42703, 42883, 3F000)
  kInvalid,     // a value the database cannot take (data exceptions, 22...)
  kConflict,    // an integrity rule (23...)
  kSchema,      // the database's schema is not one this station can use (newer, or not migrated)
  kOther,
};

// The fault of a server error by its SQLSTATE (five characters; anything else: kOther).
Fault classify_state(const std::string& state);
// "transient", "login", "permission", ...: for tests and messages.
const char* fault_name(Fault fault);

// One request to the server and how it ended.
struct Reply {
  Result result;
  bool ok = false;
  Fault fault = Fault::kNone;
  std::string state;  // SQLSTATE of a failure the server reported; empty for the connection's own
  std::string why;    // the server's message of a failure, on one line
  bool transient() const { return fault == Fault::kTransient; }
};

// The result of the database back end's public calls: done, or a fault with a message for the
// operator (never a password). Callers that speak errno take it as a Status.
class DbResult {
 public:
  DbResult() = default;
  DbResult(Fault fault, std::string message) : fault_(fault), message_(std::move(message)) {}
  // The reply's fault, its message after `what` ("cannot read the range: ...").
  static DbResult of(const Reply& reply, const std::string& what);
  bool ok() const { return fault_ == Fault::kNone; }
  Fault fault() const { return fault_; }
  const std::string& message() const { return message_; }
  // EAGAIN (transient), EACCES (login, permission), ENOENT (missing), EINVAL (invalid),
  // EEXIST (conflict), EPROTO (schema), EIO (other).
  Status status() const;
  operator Status() const { return status(); }  // NOLINT: the station's setup speaks Status

 private:
  Fault fault_ = Fault::kNone;
  std::string message_;
};

// libpq's text on one line (its continuation lines become "; "), without a trailing newline.
std::string one_line(const std::string& text);

// libpq's text about a connection string, with every quoted value but an option's name masked:
// its messages quote the text they could not take, which may hold a password.
std::string masked(const std::string& text);

// One connection to the server in libpq's non-blocking mode: every wait is bounded by the
// caller's time and the pool's stop.
class Connection {
 public:
  explicit Connection(const Bounds& bounds) : bounds_(bounds) {}
  ~Connection() { close(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Connects to `url` (a URL or key=value settings; its own settings win over ours), by `until`
  // at the latest (and within kConnectLimit). Not ok, with the message on one line and masked,
  // when it could not: kLogin when the server answered and refused the session, else
  // kTransient (no server, no answer in time, the station stopping).
  DbResult open(const std::string& url, const char* name, Clock::time_point until);
  bool is_open() const;
  // Ends the connection; a server that does not answer is not waited for.
  void close();
  // Sends one statement and waits for its answer until `until`. Past it the statement is
  // cancelled (a request bounded by kCancelLimit) and the connection closed: a transient
  // failure. A server error is classified by its SQLSTATE; one without (the connection broke)
  // is transient.
  Reply run(const char* sql, const std::vector<std::string>& params, Clock::time_point until);
  // After a LISTEN: waits until `until` for the server's notifications and adds the payloads
  // of those that came to `payloads` (none when time ran out). False when the connection broke
  // (it is closed then).
  bool wait_notices(Clock::time_point until, std::vector<std::string>& payloads);

 private:
  void cancel(Clock::time_point until);

  const Bounds& bounds_;
  PGconn* connection_ = nullptr;
};

// A short-lived connection for the line's commands (init, migrate, status, records): each
// statement has its own kCallLimit.
class Session {
 public:
  explicit Session(const std::string& url, const char* name = "skav");
  // Ok when connected; else why not, with the database named.
  const DbResult& opened() const { return opened_; }
  Reply run(const char* sql, const std::vector<std::string>& params = {});

 private:
  Bounds bounds_;
  Connection connection_{bounds_};
  DbResult opened_;
};

// True for a pool URL that names a PostgreSQL database ("postgresql://" or "postgres://").
bool is_postgres_url(const std::string& url);

// Checks a PostgreSQL URL before anything connects: it must parse, and it must not carry a
// password (a command line and a log are no place for one). The message says what is wrong
// and where a password belongs instead.
Status check_url(const std::string& url);

// The URL without anything secret, for messages: "database skav as skav on /run/pg port 5432".
std::string describe_url(const std::string& url);

// A value of a reply's cell: its text ("" for NULL), and as a number (0 when none).
std::string cell(const Result& result, int row, int column);
std::int64_t cell_number(const Result& result, int row, int column);
int row_count(const Result& result);

// An identifier quoted for SQL ("written_mac").
std::string quoted_name(const std::string& name);

}  // namespace skav::postgres

#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "core/clock.h"

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

// One request to the server and how it ended.
struct Reply {
  Result result;
  bool ok = false;
  bool transient = false;  // the request may succeed later (or the connection broke)
  std::string state;       // SQLSTATE of a failure
  std::string why;         // the server's message of a failure, on one line
};

// Server errors after which the same request may well succeed later: the connection or the
// server went away, the server is starting or shutting down, out of resources, a statement
// time-out or cancel, a serialisation failure or a deadlock.
bool transient_state(const std::string& state);

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
  // at the latest (and within kConnectLimit). False, with `why` on one line and masked, when it
  // could not.
  bool open(const std::string& url, const char* name, Clock::time_point until, std::string& why);
  bool is_open() const;
  // Ends the connection; a server that does not answer is not waited for.
  void close();
  // Sends one statement and waits for its answer until `until`. Past it the statement is
  // cancelled (a request bounded by kCancelLimit) and the connection closed: a transient
  // failure.
  Reply run(const char* sql, const std::vector<std::string>& params, Clock::time_point until);

 private:
  void cancel(Clock::time_point until);

  const Bounds& bounds_;
  PGconn* connection_ = nullptr;
};

}  // namespace skav::postgres

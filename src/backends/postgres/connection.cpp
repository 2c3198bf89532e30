#include "backends/postgres/connection.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <set>

namespace skav::postgres {

namespace {

using namespace std::chrono_literals;

// A stop is noticed at the latest after one slice of a wait.
constexpr Clock::duration kSlice = 100ms;
// Unacknowledged TCP data counts as a broken connection after this long (ms).
constexpr const char* kTcpUserTimeout = "12000";

class SystemWait : public SocketWait {
 public:
  Clock& clock() override { return steady_clock(); }
  bool wait(int socket, bool write, Clock::duration at_most) override {
    pollfd watched{socket, static_cast<short>(write ? POLLOUT : POLLIN), 0};
    // Rounded up: a wait of less than a millisecond must not turn into a spin.
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(std::max(at_most, Clock::duration::zero()));
    // An interrupted poll is "not ready yet": the caller looks at its time and waits again.
    return ::poll(&watched, 1, static_cast<int>(ms.count())) > 0;
  }
};

// The server's notices ("relation ... already exists, skipping") are not for the operator.
void quiet(void*, const char*) {}

std::string seconds_text(Clock::duration length) {
  return std::to_string(std::chrono::ceil<std::chrono::seconds>(length).count()) + " s";
}

}  // namespace

SocketWait& system_wait() {
  static SystemWait waits;
  return waits;
}

void Bounds::stop(Clock::duration grace) {
  Clock::duration::rep wanted = (clock().now() + grace).time_since_epoch().count();
  Clock::duration::rep current = cutoff_.load();
  while (wanted < current && !cutoff_.compare_exchange_weak(current, wanted)) {
  }
}

bool Bounds::stopping() const { return cutoff_.load() != Clock::duration::max().count(); }

Clock::time_point Bounds::end(Clock::time_point limit) const {
  return std::min(limit, Clock::time_point(Clock::duration(cutoff_.load())));
}

bool Bounds::wait(int socket, bool write, Clock::time_point until) const {
  for (;;) {
    Clock::time_point now = clock().now();
    Clock::time_point last = end(until);
    if (now >= last) return false;
    if (waits_.wait(socket, write, std::min<Clock::duration>(last - now, kSlice))) return true;
  }
}

void ResultFree::operator()(PGresult* result) const { PQclear(result); }

Fault classify_state(const std::string& state) {
  if (state.size() != 5) return Fault::kOther;
  // Connection exceptions, insufficient resources, operator intervention (shut-down, crash,
  // "cannot connect now", cancel), transaction rollback (serialisation failure, deadlock).
  if (state.starts_with("08") || state.starts_with("53") || state.starts_with("57P") ||
      state == "57014" || state.starts_with("40"))
    return Fault::kTransient;
  // Invalid authorisation, an unknown database.
  if (state.starts_with("28") || state == "3D000") return Fault::kLogin;
  if (state == "42501") return Fault::kPermission;
  if (state == "42P01" || state == "42703" || state == "42883" || state == "3F000") return Fault::kMissing;
  if (state.starts_with("22")) return Fault::kInvalid;
  if (state.starts_with("23")) return Fault::kConflict;
  return Fault::kOther;
}

const char* fault_name(Fault fault) {
  switch (fault) {
    case Fault::kNone: return "none";
    case Fault::kTransient: return "transient";
    case Fault::kLogin: return "login";
    case Fault::kPermission: return "permission";
    case Fault::kMissing: return "missing";
    case Fault::kInvalid: return "invalid";
    case Fault::kConflict: return "conflict";
    case Fault::kSchema: return "schema";
    case Fault::kOther: return "other";
  }
  return "other";
}

DbResult DbResult::of(const Reply& reply, const std::string& what) {
  if (reply.ok) return {};
  return {reply.fault == Fault::kNone ? Fault::kOther : reply.fault, what + ": " + reply.why};
}

Status DbResult::status() const {
  int code = EIO;
  switch (fault_) {
    case Fault::kNone: return {};
    case Fault::kTransient: code = EAGAIN; break;
    case Fault::kLogin:
    case Fault::kPermission: code = EACCES; break;
    case Fault::kMissing: code = ENOENT; break;
    case Fault::kInvalid: code = EINVAL; break;
    case Fault::kConflict: code = EEXIST; break;
    case Fault::kSchema: code = EPROTO; break;
    case Fault::kOther: code = EIO; break;
  }
  return Status::error(code, message_);
}

std::string one_line(const std::string& text) {
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    char c = text[at];
    if (c != '\n' && c != '\r') {
      out += c == '\t' ? ' ' : c;
      ++at;
      continue;
    }
    while (at < text.size() && (text[at] == '\n' || text[at] == '\r' || text[at] == '\t' || text[at] == ' '))
      ++at;
    if (at < text.size()) out += "; ";
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string masked(const std::string& text) {
  static const std::set<std::string> names = [] {
    std::set<std::string> keywords;
    PQconninfoOption* options = PQconndefaults();
    for (PQconninfoOption* o = options; o != nullptr && o->keyword != nullptr; ++o)
      keywords.insert(o->keyword);
    PQconninfoFree(options);
    keywords.erase("password");
    return keywords;
  }();
  std::string out;
  std::size_t at = 0;
  for (;;) {
    std::size_t open = text.find('"', at);
    std::size_t close = open == std::string::npos ? open : text.find('"', open + 1);
    if (close == std::string::npos) {
      // An unpaired quote: whatever follows it may be the secret.
      out += open == std::string::npos ? text.substr(at) : text.substr(at, open - at) + "\"...";
      return out;
    }
    std::string quoted = text.substr(open + 1, close - open - 1);
    bool kept = names.contains(quoted) || (quoted.size() == 1 && !std::isalnum(static_cast<unsigned char>(quoted[0])));
    out += text.substr(at, open - at) + "\"" + (kept ? quoted : "...") + "\"";
    at = close + 1;
  }
}

DbResult Connection::open(const std::string& url, const char* name, Clock::time_point until) {
  close();
  Clock::time_point start = bounds_.clock().now();
  until = std::min(until, start + kConnectLimit);
  // The URL comes last: its own settings win.
  const char* keys[] = {"tcp_user_timeout", "application_name", "dbname", nullptr};
  const char* values[] = {kTcpUserTimeout, name, url.c_str(), nullptr};
  connection_ = PQconnectStartParams(keys, values, 1);
  if (connection_ == nullptr) return {Fault::kTransient, "out of memory"};
  PostgresPollingStatusType state =
      PQstatus(connection_) == CONNECTION_BAD ? PGRES_POLLING_FAILED : PGRES_POLLING_WRITING;
  // libpq gives no SQLSTATE for a refused log-in: how far the connection got tells instead.
  // Once the start-up packet is out, a failure is the server's answer about this role and
  // database (or its configuration); before, there was no server to ask.
  bool asked = false;
  while (state == PGRES_POLLING_READING || state == PGRES_POLLING_WRITING) {
    if (!bounds_.wait(PQsocket(connection_), state == PGRES_POLLING_WRITING, until)) {
      std::string why = bounds_.stopping() ? "no connection before the station stopped"
                                           : "no connection within " + seconds_text(until - start);
      close();
      return {Fault::kTransient, why};
    }
    ConnStatusType reached = PQstatus(connection_);
    asked = asked || (reached != CONNECTION_STARTED && reached != CONNECTION_MADE &&
                      reached != CONNECTION_NEEDED && reached != CONNECTION_BAD);
    state = PQconnectPoll(connection_);
  }
  if (state != PGRES_POLLING_OK) {
    // A refusal that a password would have avoided is the same kind of answer.
    bool refused = asked || PQconnectionNeedsPassword(connection_) != 0;
    std::string why = masked(one_line(PQerrorMessage(connection_)));
    close();
    return {refused ? Fault::kLogin : Fault::kTransient, why};
  }
  // Sending never blocks either: a full socket is waited for like an answer.
  PQsetnonblocking(connection_, 1);
  PQsetNoticeProcessor(connection_, quiet, nullptr);
  return {};
}

bool Connection::is_open() const {
  return connection_ != nullptr && PQstatus(connection_) == CONNECTION_OK;
}

void Connection::close() {
  if (connection_ != nullptr) PQfinish(connection_);
  connection_ = nullptr;
}

Reply Connection::run(const char* sql, const std::vector<std::string>& params,
                      Clock::time_point until) {
  Reply reply;
  reply.fault = Fault::kTransient;
  if (connection_ == nullptr) {
    reply.why = "not connected";
    return reply;
  }
  Clock::time_point start = bounds_.clock().now();
  auto broken = [&] {
    reply.why = one_line(PQerrorMessage(connection_));
    if (reply.why.empty()) reply.why = "the connection broke";
    close();
    return std::move(reply);
  };
  auto late = [&] {
    reply.why = bounds_.stopping() ? "no answer before the station stopped"
                                   : "no answer within " + seconds_text(until - start);
    cancel(bounds_.clock().now() + kCancelLimit);
    close();
    return std::move(reply);
  };
  std::vector<const char*> values;
  for (const std::string& p : params) values.push_back(p.c_str());
  if (PQsendQueryParams(connection_, sql, static_cast<int>(values.size()), nullptr, values.data(),
                        nullptr, nullptr, 0) == 0)
    return broken();
  for (;;) {
    int flushed = PQflush(connection_);
    if (flushed == 0) break;
    if (flushed < 0) return broken();
    if (!bounds_.wait(PQsocket(connection_), true, until)) return late();
  }
  for (;;) {
    while (PQisBusy(connection_) != 0) {
      if (!bounds_.wait(PQsocket(connection_), false, until)) return late();
      if (PQconsumeInput(connection_) == 0) return broken();
    }
    Result next(PQgetResult(connection_));
    if (!next) break;
    // A failure, once there, is what the request ended in.
    if (!reply.result || PQresultStatus(reply.result.get()) != PGRES_FATAL_ERROR)
      reply.result = std::move(next);
  }
  ExecStatusType status = reply.result ? PQresultStatus(reply.result.get()) : PGRES_FATAL_ERROR;
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
    reply.ok = true;
    reply.fault = Fault::kNone;
    return reply;
  }
  if (reply.result) {
    const char* state = PQresultErrorField(reply.result.get(), PG_DIAG_SQLSTATE);
    if (state != nullptr) reply.state = state;
    reply.why = one_line(PQresultErrorMessage(reply.result.get()));
  }
  if (reply.why.empty()) reply.why = one_line(PQerrorMessage(connection_));
  // A server error says what it is; without one the connection failed under the request.
  bool broke = PQstatus(connection_) == CONNECTION_BAD;
  reply.fault = broke || reply.state.empty() ? Fault::kTransient : classify_state(reply.state);
  if (broke) close();
  return reply;
}

bool Connection::wait_notices(Clock::time_point until, std::vector<std::string>& payloads) {
  if (connection_ == nullptr) return false;
  auto take = [&] {
    while (PGnotify* notice = PQnotifies(connection_)) {
      payloads.emplace_back(notice->extra != nullptr ? notice->extra : "");
      PQfreemem(notice);
    }
  };
  // Notifications that came with an earlier answer are already read.
  take();
  if (!payloads.empty()) return true;
  if (!bounds_.wait(PQsocket(connection_), false, until)) return true;
  if (PQconsumeInput(connection_) == 0 || PQstatus(connection_) == CONNECTION_BAD) {
    close();
    return false;
  }
  take();
  return true;
}

// libpq's cancel request waits, without a bound, for the server to close the request's socket:
// it is sent from a child process, which is ended when it has not finished by `until`. The
// request is safe there: libpq makes it with async-signal-safe calls only.
void Connection::cancel(Clock::time_point until) {
  PGcancel* request = PQgetCancel(connection_);
  if (request == nullptr) return;
  int done[2];
  if (::pipe2(done, O_CLOEXEC) == 0) {
    pid_t child = ::fork();
    if (child == 0) {
      ::close(done[0]);
      char error[256];
      PQcancel(request, error, sizeof error);
      ::_exit(0);
    }
    ::close(done[1]);
    if (child > 0) {
      // The pipe's end closes when the child ends.
      bounds_.wait(done[0], false, until);
      ::kill(child, SIGKILL);
      while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
    ::close(done[0]);
  }
  PQfreeCancel(request);
}

namespace {

struct ConninfoFree {
  void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};

}  // namespace

Session::Session(const std::string& url, const char* name) {
  opened_ = connection_.open(url, name, bounds_.clock().now() + kConnectLimit);
  if (opened_.ok()) opened_ = DbResult::of(run(kStatementTimeout), "cannot use " + describe_url(url));
  else opened_ = DbResult(opened_.fault(), "cannot connect to " + describe_url(url) + ": " + opened_.message());
}

Reply Session::run(const char* sql, const std::vector<std::string>& params) {
  return connection_.run(sql, params, bounds_.clock().now() + kCallLimit);
}

std::string cell(const Result& result, int row, int column) {
  return PQgetisnull(result.get(), row, column) ? std::string() : PQgetvalue(result.get(), row, column);
}

std::int64_t cell_number(const Result& result, int row, int column) {
  return std::strtoll(PQgetvalue(result.get(), row, column), nullptr, 10);
}

int row_count(const Result& result) { return result ? PQntuples(result.get()) : 0; }

std::string quoted_name(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

bool is_postgres_url(const std::string& url) {
  return url.starts_with("postgresql://") || url.starts_with("postgres://");
}

Status check_url(const std::string& url) {
  if (!is_postgres_url(url))
    return Status::error(EINVAL, "a PostgreSQL pool URL starts with postgresql://");
  char* error = nullptr;
  std::unique_ptr<PQconninfoOption, ConninfoFree> options(PQconninfoParse(url.c_str(), &error));
  if (!options) {
    std::string why = error ? masked(one_line(error)) : "out of memory";
    PQfreemem(error);
    return Status::error(EINVAL, "the pool URL does not parse: " + why);
  }
  for (PQconninfoOption* o = options.get(); o->keyword != nullptr; ++o) {
    std::string key = o->keyword;
    std::string val = o->val != nullptr ? o->val : "";
    // "user:secret/db" without its "@" reads as host "user", port "secret": a port that is not
    // a number is not shown back.
    if (key == "port" && val.find_first_not_of("0123456789,") != std::string::npos)
      return Status::error(EINVAL, "the pool URL's port is not a number (is the URL missing an \"@\"?)");
    if (key == "password" && !val.empty())
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

}  // namespace skav::postgres

#include "backends/http/dashboard.h"

// Debian's compiled library, with TLS (its pkg-config flags say so).
#include <httplib.h>

#include <cerrno>
#include <random>

#include "backends/http/page.h"
#include "backends/postgres/line_reports.h"
#include "backends/postgres/line_view.h"
#include "backends/postgres/port_publisher.h"

namespace skav::http {

namespace {

constexpr const char* kSessionCookie = "skav_session";
constexpr std::size_t kMaxSessions = 256;
// A form with a token, a query with filters: nothing the dashboard takes is larger.
constexpr std::size_t kMaxRequest = 8192;

void harden(httplib::Response& res) {
  res.set_header("Content-Security-Policy", "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'");
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("Referrer-Policy", "no-referrer");
  res.set_header("Cache-Control", "no-store");
}

}  // namespace

class Dashboard::Server {
 public:
  explicit Server(const DashboardOptions& options) {
    if (!options.tls_cert.empty())
      server = std::make_unique<httplib::SSLServer>(options.tls_cert.c_str(), options.tls_key.c_str());
    else
      server = std::make_unique<httplib::Server>();
  }
  std::unique_ptr<httplib::Server> server;
};

Dashboard::Dashboard(DashboardOptions options) : options_(std::move(options)) {}

Dashboard::~Dashboard() { stop(); }

std::uint64_t Dashboard::version() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return version_;
}

std::string Dashboard::new_session() {
  std::random_device random;
  std::string id;
  for (int i = 0; i < 8; ++i) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
    id += part;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  sessions_.push_back(id);
  if (sessions_.size() > kMaxSessions) sessions_.pop_front();
  return id;
}

bool Dashboard::signed_in(const std::string& cookie_header) {
  const std::string id = cookie_value(cookie_header, kSessionCookie);
  if (id.empty()) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  bool found = false;
  for (const std::string& session : sessions_) found = same_secret(session, id) || found;
  return found;
}

Status Dashboard::bind() {
  server_ = std::make_unique<Server>(options_);
  httplib::Server& http = *server_->server;
  if (!http.is_valid())
    return Status::error(EINVAL, "cannot serve HTTPS with the certificate and key given");
  const std::size_t threads = static_cast<std::size_t>(options_.live_clients + options_.other_threads);
  http.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  http.set_payload_max_length(kMaxRequest);
  http.set_read_timeout(5, 0);
  http.set_write_timeout(5, 0);
  http.set_keep_alive_timeout(5);
  const bool secure = !options_.tls_cert.empty();

  http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    harden(res);
    if (req.target.size() > kMaxRequest) {
      res.status = 414;
      return httplib::Server::HandlerResponse::Handled;
    }
    if (options_.listen.loopback && !loopback_host(req.get_header_value("Host"), port_)) {
      res.status = 421;
      res.set_content("This dashboard answers to 127.0.0.1, localhost or [::1] only.\n", "text/plain");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (options_.token.empty() || req.path == "/login" || req.path == "/page.css" || signed_in(req.get_header_value("Cookie")))
      return httplib::Server::HandlerResponse::Unhandled;
    if (req.method == "GET" && req.path == "/") {
      res.status = 303;
      res.set_header("Location", "/login");
    } else {
      res.status = 401;
      res.set_content("sign in first: /login\n", "text/plain");
    }
    return httplib::Server::HandlerResponse::Handled;
  });

  http.Get("/login", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(login_page(false), "text/html; charset=utf-8");
  });
  http.Post("/login", [this, secure](const httplib::Request& req, httplib::Response& res) {
    if (options_.token.empty() || !same_secret(form_value(req.body, "token"), options_.token)) {
      res.status = 403;
      res.set_content(login_page(true), "text/html; charset=utf-8");
      return;
    }
    res.status = 303;
    res.set_header("Set-Cookie", session_cookie(kSessionCookie, new_session(), secure));
    res.set_header("Location", "/");
  });
  http.Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kPageHtml, "text/html; charset=utf-8");
  });
  http.Get("/page.js", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kPageScript, "text/javascript; charset=utf-8");
  });
  http.Get("/page.css", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kPageStyle, "text/css; charset=utf-8");
  });
  http.Get("/api/line", [this](const httplib::Request&, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(mutex_);
    res.set_content(json_, "application/json");
  });
  auto records = [this](const httplib::Request& req, postgres::RecordsReport& report) {
    std::string since = req.get_param_value("since");
    if (since.empty()) since = iso_local(day_start(std::time(nullptr), options_.day_hour, options_.day_minute));
    return postgres::read_records(options_.url, since, report);
  };
  http.Get("/api/records", [records](const httplib::Request& req, httplib::Response& res) {
    postgres::RecordsReport report;
    if (postgres::DbResult read = records(req, report); !read.ok()) {
      res.status = read.fault() == postgres::Fault::kInvalid ? 400 : 503;
      res.set_content("{\"error\":" + json_text(read.message()) + "}", "application/json");
      return;
    }
    RecordFilter filter{req.get_param_value("verdict"), req.get_param_value("station"),
                        req.get_param_value("address")};
    // The newest first, as many as a page shows.
    std::vector<postgres::LineRecord> kept;
    for (auto row = report.rows.rbegin(); row != report.rows.rend() && kept.size() < 500; ++row)
      if (filter.keeps(*row)) kept.push_back(*row);
    std::reverse(kept.begin(), kept.end());
    res.set_content(records_json(kept), "application/json");
  });
  http.Get("/records.csv", [records](const httplib::Request& req, httplib::Response& res) {
    postgres::RecordsReport report;
    if (postgres::DbResult read = records(req, report); !read.ok()) {
      res.status = read.fault() == postgres::Fault::kInvalid ? 400 : 503;
      res.set_content(read.message() + "\n", "text/plain");
      return;
    }
    res.set_header("Content-Disposition", "attachment; filename=\"skav-records.csv\"");
    res.set_content(postgres::records_csv(report.rows), "text/csv; charset=utf-8");
  });
  http.Get("/events", [this](const httplib::Request&, httplib::Response& res) {
    // One thread of the server's per live page: beyond their share the page polls instead.
    if (live_.fetch_add(1) >= options_.live_clients) {
      live_.fetch_sub(1);
      res.status = 503;
      res.set_header("Retry-After", "5");
      res.set_content("too many live pages; poll /api/line\n", "text/plain");
      return;
    }
    res.set_header("X-Accel-Buffering", "no");
    auto seen = std::make_shared<std::uint64_t>(0);
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, seen](std::size_t, httplib::DataSink& sink) {
          std::string chunk;
          {
            // In slices of a second: a page that went away is let go at the next one where
            // the socket says so, at the latest at the next keep-alive's write.
            std::unique_lock<std::mutex> lock(mutex_);
            const auto until = std::chrono::steady_clock::now() + options_.keep_alive;
            while (version_ == *seen && !stopping_ && std::chrono::steady_clock::now() < until) {
              changed_.wait_for(lock, std::chrono::seconds(1));
              if (sink.is_writable && !sink.is_writable()) return false;
            }
            if (stopping_) return false;
            if (version_ != *seen) {
              *seen = version_;
              chunk = "data: " + json_ + "\n\n";
            }
          }
          if (chunk.empty()) chunk = ": alive\n\n";
          return sink.write(chunk.data(), chunk.size());
        },
        [this](bool) { live_.fetch_sub(1); });
  });

  const int bound = options_.listen.port == 0 ? http.bind_to_any_port(options_.listen.host)
                    : http.bind_to_port(options_.listen.host, options_.listen.port) ? options_.listen.port
                                                                                    : -1;
  if (bound <= 0)
    return Status::error(EADDRINUSE, "cannot listen on " + options_.listen.host + ":" +
                                         std::to_string(options_.listen.port));
  port_ = bound;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    json_ = "{\"error\":\"reading the line\"}";
  }
  reader_ = std::thread([this] { read_loop(); });
  return {};
}

void Dashboard::serve() {
  if (server_) server_->server->listen_after_bind();
}

void Dashboard::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ && !reader_.joinable()) return;
    stopping_ = true;
  }
  changed_.notify_all();
  bounds_.stop(std::chrono::milliseconds(0));
  if (server_) server_->server->stop();
  if (reader_.joinable()) reader_.join();
}

namespace {
constexpr std::chrono::milliseconds kSettle{100};
}  // namespace

void Dashboard::read_loop() {
  postgres::Bounds& bounds = bounds_;
  postgres::Connection connection(bounds);
  auto run = [&](const char* sql, const std::vector<std::string>& params) {
    return connection.run(sql, params, bounds.clock().now() + postgres::kCallLimit);
  };
  Clock::time_point retry_at{};
  // The day's records between reads; made anew with each connection.
  postgres::DayRecords records(false);
  // The pool's figures (a count of every address) are read once a second at most; the reads
  // between show the last ones.
  postgres::PoolView pool;
  Clock::time_point pool_due{};
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) break;
    }
    std::string json;
    Clock::time_point now = bounds.clock().now();
    if (!connection.is_open() && now >= retry_at) {
      postgres::DbResult opened = connection.open(options_.url, "skav dashboard", now + postgres::kConnectLimit);
      if (opened.ok()) opened = postgres::DbResult::of(run(postgres::kStatementTimeout, {}), "cannot use the database");
      if (opened.ok())
        opened = postgres::DbResult::of(run((std::string("LISTEN ") + postgres::kLineChannel).c_str(), {}),
                                        "cannot listen for the line's news");
      // Records carry the time they were stored from kStoredAtVersion on; on an older
      // database every read takes the day's records whole.
      int version = 0;
      if (opened.ok()) opened = postgres::read_schema_version(run, version);
      if (opened.ok()) records = postgres::DayRecords(version >= postgres::kStoredAtVersion);
      if (!opened.ok()) {
        connection.close();
        retry_at = bounds.clock().now() + std::chrono::seconds(1);
        json = "{\"error\":" + json_text("the line's database: " + opened.message()) + "}";
      }
    }
    if (connection.is_open()) {
      const std::time_t wall = std::time(nullptr);
      const std::time_t start = day_start(wall, options_.day_hour, options_.day_minute);
      postgres::LineView view;
      const bool with_pool = bounds.clock().now() >= pool_due;
      if (postgres::DbResult read = postgres::read_line(run, start, wall, records, with_pool, view); read.ok()) {
        if (with_pool) {
          pool = view.pool;
          pool_due = bounds.clock().now() + std::chrono::seconds(1);
        }
        view.pool = pool;
        json = line_json(view, iso_local(start));
      } else {
        json = "{\"error\":" + json_text(read.message()) + "}";
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!json.empty() && json != json_) {
        json_ = std::move(json);
        ++version_;
        changed_.notify_all();
      }
    }
    // The next read: at a notice (its payload is only a hint), or when `reread` has passed;
    // at once while the records read are behind what the database holds. A board's record is
    // stored before its station's port row turns to the verdict, so the row's notice brings it.
    std::vector<std::string> notices;
    const Clock::time_point until = bounds.clock().now() + (records.behind() ? Clock::duration::zero() : Clock::duration(options_.reread));
    if (connection.is_open()) {
      connection.wait_notices(until, notices);
      // Notices come in bursts (every port's heartbeat); one read answers all that come within
      // kSettle of the first, so the reads follow the line's pace, not its number of ports.
      const Clock::time_point settle = bounds.clock().now() + kSettle;
      std::vector<std::string> more;
      while (!notices.empty() && bounds.clock().now() < settle && connection.wait_notices(settle, more))
        more.clear();
    } else {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait_until(lock, std::chrono::steady_clock::now() + options_.reread, [this] { return stopping_; });
    }
  }
}

}  // namespace skav::http

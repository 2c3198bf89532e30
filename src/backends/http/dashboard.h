#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "backends/http/web_text.h"
#include "core/status.h"

namespace skav::http {

struct DashboardOptions {
  std::string url;  // the line's database (no password in it)
  Listen listen;
  int day_hour = 0, day_minute = 0;  // the day starts at this local time
  // The token a browser must give once for a session; empty: none asked (loopback only).
  std::string token;
  std::string tls_cert, tls_key;  // both: HTTPS
  // Live pages (/events) at most, and the server's threads beyond them for everything else,
  // so that live pages never keep /api waiting.
  int live_clients = 100;
  int other_threads = 8;
  // A live page hears at least this often (a comment when nothing changed), which is also
  // when a page that went away is noticed.
  std::chrono::seconds keep_alive{5};
  // How often the line is read again without a notice (heartbeats age by themselves).
  std::chrono::milliseconds reread{1000};
};

// The line's dashboard: one page, /api/line, /api/records, /records.csv and /events, served
// from what one reader thread reads of the line's database whenever a notice comes on the
// line's channel or `reread` passes.
class Dashboard {
 public:
  explicit Dashboard(DashboardOptions options);
  ~Dashboard();  // stop()
  Dashboard(const Dashboard&) = delete;
  Dashboard& operator=(const Dashboard&) = delete;

  // Binds the address (port 0: any free one) and starts the reader. Not ok with why.
  Status bind();
  int port() const { return port_; }
  // Serves until stop(); returns at once when bind() failed.
  void serve();
  // Ends serving and the reader; live pages end within a second. Any thread; idempotent.
  void stop();

  // How many /events pages are open now, and how many line changes were read.
  int live() const { return live_.load(); }
  std::uint64_t version() const;

 private:
  class Server;
  void read_loop();
  bool signed_in(const std::string& cookie_header);
  std::string new_session();

  DashboardOptions options_;
  std::unique_ptr<Server> server_;
  int port_ = 0;
  std::atomic<int> live_{0};

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string json_;           // /api/line as last read
  std::uint64_t version_ = 0;  // grows with each change of json_
  bool stopping_ = false;
  std::deque<std::string> sessions_;  // newest last, bounded
  postgres::Bounds bounds_;           // the reader's waits; stop() cuts them short

  std::thread reader_;
};

}  // namespace skav::http

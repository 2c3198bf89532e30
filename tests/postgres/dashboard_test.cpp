// The line's dashboard on a real server: the stations' publisher, the line as read back
// (OFFLINE by the database's clock), and the dashboard's HTTP rules end to end.
#include <gtest/gtest.h>

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "backends/http/dashboard.h"
#include "backends/postgres/address_pool.h"
#include "backends/postgres/line_view.h"
#include "backends/postgres/port_publisher.h"
#include "backends/postgres/schema.h"
#include "core/mac_digits.h"
#include "postgres/pg_support.h"

namespace skav {
namespace {

using namespace std::chrono_literals;
using test::eventually;
using test::PgServer;

// A line's database at the newest schema, with a range.
std::string line_database() {
  std::string url = PgServer::new_database();
  MacDigits::Digits first{}, last{};
  MacDigits::parse("020000000000", first);
  MacDigits::parse("0200000000FF", last);
  if (!postgres::init_range(url, first, last).ok()) return "";
  int from = 0, to = 0;
  if (!postgres::migrate(url, from, to).ok()) return "";
  return url;
}

// A publisher whose rows are the snapshot's sequence as the word: each snapshot tells apart.
postgres::RowsOf numbered_rows() {
  return [](const line::LineSnapshot& snapshot) {
    postgres::PortRow row;
    row.adapter = "eth0";
    row.word = "W" + std::to_string(snapshot.sequence);
    postgres::PortRow second = row;
    second.port = 1;
    second.adapter = "eth1";
    return std::vector<postgres::PortRow>{row, second};
  };
}

std::shared_ptr<const line::LineSnapshot> snapshot_number(std::uint64_t sequence) {
  auto snapshot = std::make_shared<line::LineSnapshot>();
  snapshot->sequence = sequence;
  return snapshot;
}

TEST(PortPublisher, WritesEachPortAnnouncesItAndKeepsItsHeartbeat) {
  SKAV_REQUIRE_POSTGRES();
  const std::string url = line_database();
  ASSERT_FALSE(url.empty());
  postgres::Bounds bounds;
  postgres::Connection listener(bounds);
  ASSERT_TRUE(listener.open(url, "test", bounds.clock().now() + 10s).ok());
  ASSERT_TRUE(listener.run("LISTEN skav_line", {}, bounds.clock().now() + 10s).ok);

  postgres::PortPublisher publisher({url, "pc-1", "station-a", "skav 1.0"}, numbered_rows());
  publisher.on_snapshot(snapshot_number(1));
  ASSERT_TRUE(eventually([&] {
    return PgServer::query(url, "SELECT string_agg(word || ' ' || adapter || ' ' || host || ' ' || version, ',' "
                                "ORDER BY port) FROM skav_ports WHERE station_id = 'station-a'") ==
           "W1 eth0 pc-1 skav 1.0,W1 eth1 pc-1 skav 1.0";
  }));
  std::vector<std::string> notices;
  while (notices.empty() && listener.wait_notices(bounds.clock().now() + 10s, notices) && notices.empty()) {
  }
  ASSERT_FALSE(notices.empty());
  EXPECT_EQ(notices.front(), "station-a");

  // A heartbeat set back an hour is brought to the present by the next beat.
  PgServer::query(url, "UPDATE skav_ports SET heartbeat = now() - interval '1 hour'");
  EXPECT_TRUE(eventually([&] {
    return PgServer::query(url, "SELECT count(*) FROM skav_ports WHERE heartbeat > now() - interval '5 s'") == "2";
  }));
  // A change of one port writes that port only.
  std::uint64_t rows_before = publisher.counts().rows;
  publisher.on_snapshot(snapshot_number(1));
  publisher.on_snapshot(snapshot_number(2));
  ASSERT_TRUE(eventually([&] {
    return PgServer::query(url, "SELECT count(*) FROM skav_ports WHERE word = 'W2'") == "2";
  }));
  EXPECT_EQ(publisher.counts().rows, rows_before + 2);
}

TEST(PortPublisherOutage, AStalledDatabaseCostsStaleRowsNotWaits) {
  SKAV_REQUIRE_POSTGRES();
  const std::string url = line_database();
  ASSERT_FALSE(url.empty());
  postgres::PortPublisher publisher({url, "pc-1", "station-b", "skav 1.0"}, numbered_rows());
  publisher.on_snapshot(snapshot_number(1));
  ASSERT_TRUE(eventually([&] { return PgServer::query(url, "SELECT count(*) FROM skav_ports") == "2"; }));
  const std::uint64_t rows_before = publisher.counts().rows;
  {
    PgServer::Frozen frozen;
    ASSERT_TRUE(frozen.ok());
    // Each hand-over returns while the database answers nothing.
    for (std::uint64_t n = 2; n <= 50; ++n) publisher.on_snapshot(snapshot_number(n));
    EXPECT_EQ(publisher.counts().offered, 50u);
    EXPECT_GT(publisher.counts().replaced, 0u);
  }
  EXPECT_TRUE(eventually([&] {
    return PgServer::query(url, "SELECT string_agg(word, ',') FROM skav_ports") == "W50,W50";
  }, 30s));
  // The newest snapshot's two rows, and at most a write that was under way at the freeze: the
  // 48 in between were dropped, not written one after another.
  EXPECT_LE(publisher.counts().rows - rows_before, 4u);
}

TEST(LineView, APortIsOfflineByTheDatabasesClock) {
  SKAV_REQUIRE_POSTGRES();
  const std::string url = line_database();
  ASSERT_FALSE(url.empty());
  PgServer::query(url, "INSERT INTO skav_ports (station_id, port, host, word, heartbeat) VALUES "
                       "('s1', 0, 'pc', 'PASS', now()), ('s1', 1, 'pc', 'PASS', now() - interval '4 s'), "
                       "('s1', 2, 'pc', 'PROGRAMMING', now() - interval '6 s')");
  postgres::Session session(url);
  ASSERT_TRUE(session.opened().ok());
  postgres::LineView line;
  const std::time_t now = std::time(nullptr);
  ASSERT_TRUE(postgres::read_line([&](const char* sql, const std::vector<std::string>& params) {
    return session.run(sql, params);
  }, now - 3600, now, line).ok());
  ASSERT_EQ(line.ports.size(), 3u);
  EXPECT_FALSE(line.ports[0].offline);
  EXPECT_FALSE(line.ports[1].offline);
  EXPECT_TRUE(line.ports[2].offline);
  EXPECT_EQ(line.ports[2].word, "PROGRAMMING");
  EXPECT_TRUE(line.pool.known);
  EXPECT_EQ(line.pool.size, 256);
  EXPECT_EQ(line.pool.free, 256);
}

// `count` boards' addresses and records, ended `ended` (SQL), stored in one transaction whose
// time of storing is `stored` (SQL; the transaction's own time when empty).
std::string boards_sql(int from, int count, const std::string& ended, const std::string& verdict,
                       const std::string& stored = "") {
  const std::string rows = "generate_series(" + std::to_string(2199023255552LL + from) + ", " +
                           std::to_string(2199023255552LL + from + count - 1) + ") a";
  return "INSERT INTO skav_addresses (address, host, port, outcome, finished_at) SELECT a, 'pc', 'eth0', '" +
         verdict + "', now() FROM " + rows + "; INSERT INTO skav_records (address, host, port, ended_at, " +
         (stored.empty() ? "" : "stored_at, ") + "verdict, board_mac) SELECT a, 'pc', 'eth0', " + ended + ", " +
         (stored.empty() ? "" : stored + ", ") + "'" + verdict + "', 'm' || a FROM " + rows;
}

TEST(LineView, AStoredRecordSendsNoNoticeItsStationsPortRowDoes) {
  SKAV_REQUIRE_POSTGRES();
  const std::string url = line_database();
  ASSERT_FALSE(url.empty());
  postgres::Bounds bounds;
  postgres::Connection listener(bounds);
  ASSERT_TRUE(listener.open(url, "test", bounds.clock().now() + 10s).ok());
  ASSERT_TRUE(listener.run("LISTEN skav_line", {}, bounds.clock().now() + 10s).ok);
  // A board's end as a station stores it: the record, then its port row with the verdict on the
  // publisher's connection. Notices come in the order of their commits.
  ASSERT_EQ(PgServer::query(url, boards_sql(0, 1, "now()", "pass")), "");
  ASSERT_EQ(PgServer::query(url, "WITH w AS (INSERT INTO skav_ports (station_id, port, host, word) "
                                 "VALUES ('s1', 0, 'pc', 'PASS') RETURNING 1) "
                                 "SELECT pg_notify('skav_line', 's1') FROM w"),
            "");
  std::vector<std::string> notices;
  while (listener.wait_notices(bounds.clock().now() + 10s, notices) && notices.empty()) {
  }
  ASSERT_FALSE(notices.empty());
  EXPECT_EQ(notices.front(), "s1");
}

TEST(LineView, TheDaysRecordsAreReadOnceThenWhatWasStoredSince) {
  SKAV_REQUIRE_POSTGRES();
  const std::string url = line_database();
  ASSERT_FALSE(url.empty());
  postgres::Session session(url);
  ASSERT_TRUE(session.opened().ok());
  auto run = [&](const char* sql, const std::vector<std::string>& params) { return session.run(sql, params); };
  const std::time_t now = std::time(nullptr);
  const std::time_t day_start = now - 3600;
  const int bound = postgres::DayRecords::kMaxRead;
  struct Step {
    const char* what;
    std::string sql;  // run before the read
    int boards, failed;
    bool behind;
  } steps[] = {
      {"the day's first read takes it whole; yesterday's board is not the day's",
       boards_sql(0, 2, "now()", "pass") + "; " + boards_sql(2, 1, "now() - interval '2 hours'", "fail"), 2, 0, false},
      {"a board stored since", boards_sql(3, 1, "now()", "fail"), 3, 1, false},
      {"nothing new: nothing twice", "SELECT 1", 3, 1, false},
      {"a commit that the last read did not see yet, begun before it",
       boards_sql(4, 1, "now()", "fail", "now() - interval '20 s'"), 4, 2, false},
      {"more than a read takes: the read is behind", boards_sql(10, bound + 1, "now()", "pass"), 4 + bound, 2, true},
      {"the next read takes the rest", "SELECT 1", 5 + bound, 2, false},
  };
  postgres::DayRecords records(true);
  for (const Step& step : steps) {
    ASSERT_EQ(PgServer::query(url, step.sql).rfind("error", 0), std::string::npos) << step.what;
    postgres::LineView line;
    ASSERT_TRUE(postgres::read_line(run, day_start, now, records, true, line).ok()) << step.what;
    EXPECT_EQ(line.boards, step.boards) << step.what;
    EXPECT_EQ(line.failed, step.failed) << step.what;
    EXPECT_EQ(records.behind(), step.behind) << step.what;
  }
  // A new day is read whole again.
  postgres::LineView line;
  ASSERT_TRUE(postgres::read_line(run, now - 3 * 3600, now, records, true, line).ok());
  EXPECT_EQ(line.boards, 6 + bound);
}

// A dashboard on a free loopback port, served on its own thread.
class Served {
 public:
  explicit Served(http::DashboardOptions options) : dashboard_(std::move(options)) {
    ok_ = dashboard_.bind().ok();
    if (ok_) thread_ = std::thread([this] { dashboard_.serve(); });
  }
  ~Served() {
    dashboard_.stop();
    if (thread_.joinable()) thread_.join();
  }
  bool ok() const { return ok_; }
  http::Dashboard& dashboard() { return dashboard_; }
  std::unique_ptr<httplib::Client> client() {
    auto made = std::make_unique<httplib::Client>("127.0.0.1", dashboard_.port());
    made->set_read_timeout(20, 0);
    return made;
  }

 private:
  http::Dashboard dashboard_;
  bool ok_ = false;
  std::thread thread_;
};

http::DashboardOptions loopback(const std::string& url) {
  http::DashboardOptions options;
  options.url = url;
  options.listen = {"127.0.0.1", 0, true};
  return options;
}

// A page's live stream on its own thread: what came, until `enough` says it has what it waits
// for or the dashboard ends it.
class LivePage {
 public:
  LivePage(httplib::Client& client, std::function<bool(const std::string&)> enough)
      : thread_([this, &client, enough] {
          auto result = client.Get("/events", [&](const char* data, std::size_t size) {
            std::lock_guard<std::mutex> lock(mutex_);
            text_.append(data, size);
            return !enough(text_);
          });
          status_ = result ? result->status : -1;
          done_ = true;
        }) {}
  ~LivePage() { thread_.join(); }
  std::string text() {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }
  bool done() const { return done_; }
  int status() const { return status_; }

 private:
  std::mutex mutex_;
  std::string text_;
  std::atomic<bool> done_{false};
  std::atomic<int> status_{0};
  std::thread thread_;
};

TEST(Dashboard, ANoticeBringsTheNewRowsToALivePage) {
  SKAV_REQUIRE_POSTGRES();
  const std::string url = line_database();
  ASSERT_FALSE(url.empty());
  Served served(loopback(url));
  ASSERT_TRUE(served.ok());
  auto client = served.client();
  LivePage page(*client, [](const std::string& text) { return text.find("\"NEW-WORD\"") != std::string::npos; });
  ASSERT_TRUE(eventually([&] { return page.text().find("data: {") != std::string::npos; }));
  // A row and its notice, as a station writes them.
  PgServer::query(url, "WITH w AS (INSERT INTO skav_ports (station_id, port, host, word) "
                       "VALUES ('s9', 0, '<i>pc</i>', 'NEW-WORD') RETURNING 1) SELECT pg_notify('skav_line', 'x') FROM w");
  ASSERT_TRUE(eventually([&] { return page.done(); }));
  EXPECT_NE(page.text().find("\"host\":\"\\u003ci\\u003epc\\u003c/i\\u003e\""), std::string::npos) << page.text();
}

TEST(Dashboard, ABoardsRecordComesWithItsStationsPortNotice) {
  SKAV_REQUIRE_POSTGRES();
  struct Case {
    const char* what;
    const char* before;  // makes the database as that version left it
  } cases[] = {
      {"records that carry their time of storing", "SELECT 1"},
      {"a version-5 database (every record read each time)",
       "DROP INDEX skav_records_stored_at; ALTER TABLE skav_records DROP COLUMN stored_at; "
       "DELETE FROM skav_schema_version WHERE version >= 6"},
  };
  for (const Case& c : cases) {
    const std::string url = line_database();
    ASSERT_FALSE(url.empty());
    ASSERT_EQ(PgServer::query(url, c.before).rfind("error", 0), std::string::npos) << c.what;
    ASSERT_EQ(PgServer::query(url, boards_sql(0, 1, "now()", "pass")), "") << c.what;
    http::DashboardOptions options = loopback(url);
    options.reread = std::chrono::hours(1);  // only a notice brings news
    Served served(options);
    ASSERT_TRUE(served.ok());
    auto client = served.client();
    LivePage page(*client, [](const std::string& text) { return text.find("\"boards\":2,") != std::string::npos; });
    EXPECT_TRUE(eventually([&] { return page.text().find("\"boards\":1,") != std::string::npos; })) << c.what;
    // The next board: its record, then its port row turning to the verdict, as a station does.
    ASSERT_EQ(PgServer::query(url, boards_sql(1, 1, "now()", "pass")), "") << c.what;
    PgServer::query(url, "WITH w AS (INSERT INTO skav_ports (station_id, port, host, word) "
                         "VALUES ('s1', 0, 'pc', 'PASS') RETURNING 1) SELECT pg_notify('skav_line', 's1') FROM w");
    EXPECT_TRUE(eventually([&] { return page.done(); })) << c.what << ": " << page.text();
    served.dashboard().stop();  // ends the page's stream, had it not seen its board
  }
}

TEST(Dashboard, LivePagesAreBoundedAndNeverKeepTheApiWaiting) {
  SKAV_REQUIRE_POSTGRES();
  const std::string url = line_database();
  ASSERT_FALSE(url.empty());
  http::DashboardOptions options = loopback(url);
  options.live_clients = 3;
  options.other_threads = 2;
  Served served(options);
  ASSERT_TRUE(served.ok());
  // The line read once, so that every answer below is a reading of it.
  ASSERT_TRUE(eventually([&] { return served.dashboard().version() > 0; }));
  std::vector<std::unique_ptr<httplib::Client>> clients;
  std::vector<std::unique_ptr<LivePage>> pages;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(served.client());
    pages.push_back(std::make_unique<LivePage>(*clients.back(), [](const std::string&) { return false; }));
  }
  ASSERT_TRUE(eventually([&] { return served.dashboard().live() == 3; }));
  // One more live page is turned away; the API still answers, more than once at a time.
  // Its answer's status is all it waits for: an accepted page would stream on.
  auto extra = served.client();
  int refused = 0;
  extra->Get(
      "/events",
      [&](const httplib::Response& answer) {
        refused = answer.status;
        return false;
      },
      [](const char*, std::size_t) { return false; });
  EXPECT_EQ(refused, 503);
  for (int i = 0; i < 4; ++i) {
    auto line = served.client()->Get("/api/line");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->status, 200);
    EXPECT_NE(line->body.find("\"stations\""), std::string::npos) << line->body;
  }
  // Pages that go away free their places.
  for (auto& client : clients) client->stop();
  served.dashboard().stop();
  pages.clear();
  EXPECT_TRUE(eventually([&] { return served.dashboard().live() == 0; }));
}

TEST(Dashboard, ForeignHostNamesAreRefusedOnLoopback) {
  SKAV_REQUIRE_POSTGRES();
  const std::string url = line_database();
  ASSERT_FALSE(url.empty());
  Served served(loopback(url));
  ASSERT_TRUE(served.ok());
  auto client = served.client();
  struct Case {
    std::string host;
    int status;
  };
  const Case cases[] = {
      {"127.0.0.1:" + std::to_string(served.dashboard().port()), 200},
      {"localhost:" + std::to_string(served.dashboard().port()), 200},
      {"rebound.example:" + std::to_string(served.dashboard().port()), 421},
      {"127.0.0.1:1", 421},
  };
  for (const Case& c : cases) {
    auto answer = client->Get("/api/line", {{"Host", c.host}});
    ASSERT_TRUE(answer) << c.host;
    EXPECT_EQ(answer->status, c.status) << c.host;
  }
}

TEST(Dashboard, ATokenBuysAnHttpOnlyStrictCookieAndNothingElseGetsIn) {
  SKAV_REQUIRE_POSTGRES();
  const std::string url = line_database();
  ASSERT_FALSE(url.empty());
  http::DashboardOptions options = loopback(url);
  options.token = "correct horse battery";
  Served served(options);
  ASSERT_TRUE(served.ok());
  auto client = served.client();
  struct Ask {
    const char* path;
    int status;
  };
  for (const Ask& ask : {Ask{"/api/line", 401}, Ask{"/events", 401}, Ask{"/records.csv", 401},
                         Ask{"/api/records", 401}, Ask{"/", 303}, Ask{"/login", 200}}) {
    auto answer = client->Get(ask.path);
    ASSERT_TRUE(answer) << ask.path;
    EXPECT_EQ(answer->status, ask.status) << ask.path;
  }
  auto wrong = client->Post("/login", "token=correct+horse", "application/x-www-form-urlencoded");
  ASSERT_TRUE(wrong);
  EXPECT_EQ(wrong->status, 403);
  EXPECT_FALSE(wrong->has_header("Set-Cookie"));
  // A cookie made up by the client is not a session.
  auto forged = client->Get("/api/line", {{"Cookie", "skav_session=00000000"}});
  ASSERT_TRUE(forged);
  EXPECT_EQ(forged->status, 401);

  auto right = client->Post("/login", "token=correct+horse+battery", "application/x-www-form-urlencoded");
  ASSERT_TRUE(right);
  EXPECT_EQ(right->status, 303);
  const std::string cookie = right->get_header_value("Set-Cookie");
  EXPECT_NE(cookie.find("; HttpOnly"), std::string::npos) << cookie;
  EXPECT_NE(cookie.find("; SameSite=Strict"), std::string::npos) << cookie;
  EXPECT_EQ(cookie.find("battery"), std::string::npos) << cookie;
  const std::string session = cookie.substr(0, cookie.find(';'));
  auto line = client->Get("/api/line", {{"Cookie", session}});
  ASSERT_TRUE(line);
  EXPECT_EQ(line->status, 200);
}

}  // namespace
}  // namespace skav

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "backends/http/web_text.h"
#include "backends/postgres/line_view.h"
#include "present/panel.h"

namespace skav::http {
namespace {

// The dashboard's clock in a zone with a clock change, restored afterwards.
class Zone {
 public:
  explicit Zone(const char* zone) {
    const char* before = std::getenv("TZ");
    had_ = before != nullptr;
    if (had_) before_ = before;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~Zone() {
    if (had_) setenv("TZ", before_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  bool had_ = false;
  std::string before_;
};

std::time_t local_time(int year, int month, int day, int hour, int minute) {
  std::tm at{};
  at.tm_year = year - 1900;
  at.tm_mon = month - 1;
  at.tm_mday = day;
  at.tm_hour = hour;
  at.tm_min = minute;
  at.tm_isdst = -1;
  return std::mktime(&at);
}

TEST(WebText, JsonTextEscapesWhatJsonAndAPageNeed) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"line\nnext\r\t", "\"line\\nnext\\r\\t\""},
      {std::string("nul\0x", 5), "\"nul\\u0000x\""},
      {"\x1f\x7f", "\"\\u001f\\u007f\""},
      {"</script><b>&amp;", "\"\\u003c/script\\u003e\\u003cb\\u003e\\u0026amp;\""},
      {"a\xe2\x80\xa8" "b\xe2\x80\xa9", "\"a\\u2028b\\u2029\""},
      {"caf\xc3\xa9", "\"caf\xc3\xa9\""},  // other UTF-8 passes as it is
  };
  for (const Case& c : cases) EXPECT_EQ(json_text(c.in), c.out) << c.in;
}

TEST(WebText, HtmlTextMakesEveryMarkupCharacterAnEntity) {
  EXPECT_EQ(html_text("<b id=\"x\">Tom's & co</b>"),
            "&lt;b id=&quot;x&quot;&gt;Tom&#39;s &amp; co&lt;/b&gt;");
  EXPECT_EQ(html_text("eth0"), "eth0");
}

TEST(WebText, ListenAddressesAndWhichAreLoopback) {
  struct Case {
    const char* text;
    bool ok;
    const char* host;
    int port;
    bool loopback;
  };
  const Case cases[] = {
      {"127.0.0.1:8080", true, "127.0.0.1", 8080, true},
      {"8080", true, "127.0.0.1", 8080, true},
      {"127.1.2.3:80", true, "127.1.2.3", 80, true},
      {"[::1]:9000", true, "::1", 9000, true},
      {"localhost:8080", true, "localhost", 8080, true},
      {"0.0.0.0:8080", true, "0.0.0.0", 8080, false},
      {"192.168.1.5:443", true, "192.168.1.5", 443, false},
      {"[::]:8080", true, "::", 8080, false},
      {"::1:8080", false, "", 0, false},     // IPv6 without brackets
      {"127.0.0.1:", false, "", 0, false},
      {"127.0.0.1:0x50", false, "", 0, false},
      {"127.0.0.1:65536", false, "", 0, false},
      {"127.0.0.1:0", false, "", 0, false},
      {":8080", false, "", 0, false},
  };
  for (const Case& c : cases) {
    std::optional<Listen> listen = parse_listen(c.text);
    ASSERT_EQ(listen.has_value(), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(listen->host, c.host) << c.text;
    EXPECT_EQ(listen->port, c.port) << c.text;
    EXPECT_EQ(listen->loopback, c.loopback) << c.text;
  }
}

TEST(WebText, OnlyLoopbackNamesPassTheHostCheck) {
  struct Case {
    const char* host;
    bool allowed;
  };
  const Case cases[] = {
      {"127.0.0.1:8080", true}, {"127.0.0.1", true},          {"localhost:8080", true},
      {"LOCALHOST:8080", true}, {"[::1]:8080", true},         {"127.0.0.1:8081", false},
      {"evil.example:8080", false}, {"evil.example", false},  {"", false},
      {"localhost.evil.example:8080", false}, {"127.0.0.1.nip.io:8080", false},
  };
  for (const Case& c : cases) EXPECT_EQ(loopback_host(c.host, 8080), c.allowed) << c.host;
}

TEST(WebText, SecretsCompareWhole) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  };
  const Case cases[] = {
      {"s3cret-token", "s3cret-token", true}, {"s3cret-token", "s3cret-tokeN", false},
      {"s3cret-token", "s3cret", false},      {"s3cret", "s3cret-token", false},
      {"", "", false},                        {"x", "", false},
  };
  for (const Case& c : cases) EXPECT_EQ(same_secret(c.a, c.b), c.same) << c.a << " / " << c.b;
}

TEST(WebText, CookiesAndForms) {
  EXPECT_EQ(cookie_value("a=1; skav_session=abc; b=2", "skav_session"), "abc");
  EXPECT_EQ(cookie_value("skav_session=abc", "skav_session"), "abc");
  EXPECT_EQ(cookie_value("xskav_session=abc; skav_session2=d", "skav_session"), "");
  EXPECT_EQ(cookie_value("", "skav_session"), "");
  EXPECT_EQ(session_cookie("s", "v", false), "s=v; Path=/; HttpOnly; SameSite=Strict");
  EXPECT_EQ(session_cookie("s", "v", true), "s=v; Path=/; HttpOnly; SameSite=Strict; Secure");
  EXPECT_EQ(form_value("token=a%2Bb+c%26d&x=1", "token"), "a+b c&d");
  EXPECT_EQ(form_value("x=1&token=", "token"), "");
  EXPECT_EQ(form_value("tokenx=1", "token"), "");
  EXPECT_EQ(form_value("token=%zz", "token"), "%zz");
}

TEST(WebText, DayStartIsTheLatestLocalTimeOfDayBeforeNow) {
  Zone zone("Europe/Berlin");
  int hour = -1, minute = -1;
  ASSERT_TRUE(parse_day_start("06:30", hour, minute));
  EXPECT_EQ(hour, 6);
  EXPECT_EQ(minute, 30);
  for (const char* wrong : {"6:30", "24:00", "06:60", "06-30", "0630", "ab:cd", ""})
    EXPECT_FALSE(parse_day_start(wrong, hour, minute)) << wrong;

  struct Case {
    std::time_t now;
    int hour, minute;
    std::time_t start;
  };
  const Case cases[] = {
      {local_time(2026, 12, 10, 15, 0), 0, 0, local_time(2026, 12, 10, 0, 0)},
      {local_time(2026, 12, 10, 15, 0), 6, 0, local_time(2026, 12, 10, 6, 0)},
      {local_time(2026, 12, 10, 5, 59), 6, 0, local_time(2026, 12, 9, 6, 0)},
      {local_time(2026, 12, 10, 6, 0), 6, 0, local_time(2026, 12, 10, 6, 0)},
      // The night the clocks go forward is 23 hours long: yesterday's 06:00 by the calendar.
      {local_time(2026, 3, 29, 5, 0), 6, 0, local_time(2026, 3, 28, 6, 0)},
  };
  for (const Case& c : cases) EXPECT_EQ(day_start(c.now, c.hour, c.minute), c.start) << c.now;
  EXPECT_EQ(iso_local(local_time(2026, 12, 10, 6, 0)), "2026-12-10T06:00:00+01:00");
  EXPECT_EQ(iso_local(local_time(2026, 7, 1, 6, 0)), "2026-07-01T06:00:00+02:00");
}

postgres::DayRecord day_record(std::time_t ended, const char* verdict, const char* board,
                               std::vector<std::pair<std::string, std::string>> steps = {}) {
  return {ended, verdict, board, std::move(steps)};
}

TEST(LineFigures, TotalsYieldHoursAndFailuresOfTheDay) {
  Zone zone("UTC");
  const std::time_t start = local_time(2026, 12, 10, 6, 0);
  const std::time_t now = start + 2 * 3600 + 1800;  // 08:30: three hours of bars
  std::vector<postgres::DayRecord> records = {
      day_record(start + 60, "pass", "02:00:00:00:00:01"),
      day_record(start + 120, "fail", "02:00:00:00:00:02", {{"environment", "pass"}, {"kernel", "fail"}}),
      // The same board again: it passes now, but its first run did not.
      day_record(start + 3700, "pass", "02:00:00:00:00:02"),
      day_record(start + 3800, "timeout", "02:00:00:00:00:03", {{"environment", "pass"}, {"kernel", "skipped"}, {"diag", "timeout"}}),
      day_record(start + 7300, "fail", "02:00:00:00:00:04", {{"environment", "pass"}, {"kernel", "fail"}}),
      day_record(start + 7400, "fail", "02:00:00:00:00:05", {{"environment", "pass"}}),
      // Cut short: counted apart, neither a failure nor a bar.
      day_record(start + 7500, "adapter-lost", "02:00:00:00:00:06", {{"environment", "adapter-lost"}}),
      day_record(start + 7600, "stopped", "02:00:00:00:00:07", {{"environment", "stopped"}}),
  };
  postgres::LineView line;
  postgres::add_day(records, start, now, line);
  EXPECT_EQ(line.boards, 8);
  EXPECT_EQ(line.passed, 2);
  EXPECT_EQ(line.failed, 4);
  EXPECT_EQ(line.interrupted, 2);
  // Seven boards; only the first passed at its first run.
  EXPECT_DOUBLE_EQ(line.first_pass_yield, 1.0 / 7.0);
  EXPECT_DOUBLE_EQ(line.boards_per_hour, 3.2);
  ASSERT_EQ(line.hours.size(), 3u);
  EXPECT_EQ(line.hours[0].hour, 6);
  EXPECT_EQ(line.hours[0].passed, 1);
  EXPECT_EQ(line.hours[0].failed, 1);
  EXPECT_EQ(line.hours[1].passed, 1);
  EXPECT_EQ(line.hours[1].failed, 1);
  EXPECT_EQ(line.hours[2].hour, 8);
  EXPECT_EQ(line.hours[2].failed, 2);
  ASSERT_EQ(line.failures.size(), 3u);
  EXPECT_EQ(line.failures[0].step, "kernel");
  EXPECT_EQ(line.failures[0].reason, "fail");
  EXPECT_EQ(line.failures[0].count, 2);
  // A failed board whose steps all passed failed in its run as a whole.
  EXPECT_EQ(line.failures[1].step + ":" + line.failures[1].reason, "diag:timeout");
  EXPECT_EQ(line.failures[2].step + ":" + line.failures[2].reason, "run:fail");
}

TEST(LineFigures, PoolRunsOutAtTodaysRate) {
  Zone zone("UTC");
  const std::time_t start = local_time(2026, 12, 10, 0, 0);
  // 100 addresses in 12 hours: 200 a day; 1,000 left last five more days.
  EXPECT_EQ(postgres::run_out_day(1000, 100, start, start + 12 * 3600), "2026-12-15");
  EXPECT_EQ(postgres::run_out_day(1000, 0, start, start + 12 * 3600), "");
  EXPECT_EQ(postgres::run_out_day(0, 100, start, start + 12 * 3600), "2026-12-10");
}

TEST(LineJson, TextsAreEscapedAndAStaleHeartbeatIsOffline) {
  postgres::LineView line;
  postgres::PortView alive;
  alive.station_id = "id-1";
  alive.host = "<b>pc\"7</b>";
  alive.port = 0;
  alive.adapter = "eth0";
  alive.word = "PASS";
  alive.reason = "read-back </script>";
  postgres::PortView stale = alive;
  stale.port = 1;
  stale.word = "PROGRAMMING";
  stale.offline = true;
  postgres::PortView other = alive;
  other.station_id = "id-2";
  line.ports = {alive, stale, other};
  const std::string json = line_json(line, "2026-12-10T00:00:00+00:00");
  EXPECT_EQ(json.find('<'), std::string::npos) << json;
  EXPECT_NE(json.find("\"host\":\"\\u003cb\\u003epc\\\"7\\u003c/b\\u003e\""), std::string::npos) << json;
  // Two stations: the same host name under two identities stays two.
  EXPECT_NE(json.find("\"station\":\"id-1\""), std::string::npos);
  EXPECT_NE(json.find("\"station\":\"id-2\""), std::string::npos);
  const std::string pass_background =
      "#" + [] {
        present::Rgb rgb = present::background_of(present::tone_of(present::Word::kPass));
        char text[8];
        std::snprintf(text, sizeof text, "%02x%02x%02x", rgb.red, rgb.green, rgb.blue);
        return std::string(text);
      }();
  EXPECT_NE(json.find("\"word\":\"PASS\",\"last_word\":\"PASS\",\"offline\":false,\"background\":\"" +
                      pass_background + "\""),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"word\":\"OFFLINE\",\"last_word\":\"PROGRAMMING\",\"offline\":true,"
                      "\"background\":\"#9e9e9e\""),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"pool\":null"), std::string::npos);
}

// Every panel word gets its tile the windows' colours; a word the dashboard does not know (a
// newer station's) stays neutral.
TEST(LineJson, EveryWordHasTheWindowsColours) {
  auto hex = [](present::Rgb rgb) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", rgb.red, rgb.green, rgb.blue);
    return std::string(text);
  };
  std::vector<std::pair<std::string, present::Tone>> cases;
  for (present::Word word : present::kWords) cases.emplace_back(present::word_text(word), present::tone_of(word));
  cases.emplace_back("RESTING", present::Tone::kNeutral);
  for (const auto& [word, tone] : cases) {
    postgres::LineView line;
    postgres::PortView port;
    port.station_id = "id-1";
    port.word = word;
    line.ports = {port};
    const std::string json = line_json(line, "2026-12-10T00:00:00+00:00");
    EXPECT_NE(json.find("\"last_word\":\"" + word + "\",\"offline\":false,\"background\":\"" +
                        hex(present::background_of(tone)) + "\",\"colour\":\"" +
                        hex(present::text_colour_of(tone)) + "\""),
              std::string::npos)
        << word << ": " << json;
  }
}

// Reads SVG path data as svg_path writes it back into points: "M x y L x y ... [Z]".
present::MarkStroke read_path(const std::string& d) {
  present::MarkStroke stroke;
  std::size_t at = 0;
  while (at < d.size()) {
    const char command = d[at++];
    if (command == 'Z') {
      stroke.closed = true;
      continue;
    }
    EXPECT_TRUE(command == (stroke.points.empty() ? 'M' : 'L')) << d;
    char* end = nullptr;
    const float x = std::strtof(d.c_str() + at, &end);
    const float y = std::strtof(end, &end);
    at = static_cast<std::size_t>(end - d.c_str());
    stroke.points.push_back({x, y});
  }
  return stroke;
}

// Every mark reaches the page whole: each stroke's points in order, closed and filled as the
// windows draw them, under the mark's name.
TEST(Marks, EveryMarkReachesThePageAsTheWindowsDrawIt) {
  const std::string& json = marks_json();
  for (int i = 0; i <= static_cast<int>(present::Mark::kLast); ++i) {
    const auto mark = static_cast<present::Mark>(i);
    SCOPED_TRACE(present::mark_name(mark));
    const std::vector<present::MarkStroke>& strokes = present::mark_strokes(mark);
    const std::size_t start = json.find("\"" + std::string(present::mark_name(mark)) + "\":[");
    ASSERT_NE(start, std::string::npos) << json;
    std::size_t at = start;
    for (const present::MarkStroke& stroke : strokes) {
      const std::size_t d = json.find("{\"d\":\"", at);
      ASSERT_NE(d, std::string::npos);
      const std::size_t d_end = json.find('"', d + 6);
      const present::MarkStroke read = read_path(json.substr(d + 6, d_end - d - 6));
      EXPECT_EQ(read.closed, stroke.closed);
      ASSERT_EQ(read.points.size(), stroke.points.size());
      for (std::size_t p = 0; p < stroke.points.size(); ++p) {
        EXPECT_NEAR(read.points[p].x, stroke.points[p].x, 0.001);
        EXPECT_NEAR(read.points[p].y, stroke.points[p].y, 0.001);
      }
      const std::string filled = stroke.filled ? "\"filled\":true}" : "\"filled\":false}";
      EXPECT_EQ(json.compare(d_end + 2, filled.size(), filled), 0) << json.substr(d_end, 30);
      at = d_end;
    }
    // No stroke more than the windows draw: the mark's list ends after its last.
    EXPECT_EQ(json[json.find('}', at) + 1], ']');
  }
  EXPECT_EQ(json.rfind("{\"pen\":0.1,", 0), 0u) << json;
}

TEST(Marks, EachPortNamesTheMarkOfItsWordAndOfflineNone) {
  struct Case {
    const char* word;
    bool offline;
    const char* mark;
  };
  const Case cases[] = {
      {"STARTING", false, "hourglass"}, {"SEARCHING", false, "magnifier"}, {"CONNECTED", false, "plug"},
      {"PROGRAMMING", false, "arrow"},  {"PASS", false, "tick"},           {"FAIL", false, "cross"},
      {"TIMEOUT", false, "clock"},      {"ADAPTER ERROR", false, "warning"}, {"STATION ERROR", false, "warning"},
      {"INTERRUPTED", false, "pause"},  {"PASS", true, ""},               {"SOMETHING NEW", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.word) + (c.offline ? " offline" : ""));
    postgres::LineView line;
    postgres::PortView port;
    port.station_id = "id-1";
    port.word = c.word;
    port.offline = c.offline;
    line.ports = {port};
    const std::string json = line_json(line, "2026-12-10T00:00:00+00:00");
    EXPECT_NE(json.find(",\"mark\":\"" + std::string(c.mark) + "\","), std::string::npos) << json;
    // The outlines travel with the line, so that a page that only listens can draw them.
    EXPECT_NE(json.find(",\"marks\":" + marks_json() + ","), std::string::npos);
  }
}

TEST(RecordFilter, KeepsByVerdictStationAndAPartOfTheAddress) {
  postgres::LineRecord row;
  row.host = "pc-7";
  row.station_id = "abc123";
  row.record.overall = station::Verdict::kFail;
  row.record.written_mac = "02:00:00:0A:00:01";
  row.record.board_mac = "02:00:00:00:00:09";
  struct Case {
    RecordFilter filter;
    bool kept;
  };
  const Case cases[] = {
      {{}, true},
      {{"fail", "", ""}, true},
      {{"pass", "", ""}, false},
      {{"", "pc-7", ""}, true},
      {{"", "abc123", ""}, true},
      {{"", "pc", ""}, false},
      {{"", "", "0a:00:01"}, true},
      {{"", "", "00:09"}, true},
      {{"", "", "0b"}, false},
      {{"fail", "pc-7", "0A:00"}, true},
      {{"fail", "pc-8", "0A:00"}, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.filter.keeps(row), c.kept) << c.filter.verdict << "|" << c.filter.station << "|" << c.filter.address;
}

}  // namespace
}  // namespace skav::http

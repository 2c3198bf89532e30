#include "backends/http/web_text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "core/station/records.h"
#include "present/panel.h"

namespace skav::http {

namespace {

std::string hex_colour(present::Rgb rgb) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", rgb.red, rgb.green, rgb.blue);
  return text;
}

// The tile's colours of a word as the windows paint it; an unknown word (a newer station's)
// stays neutral. OFFLINE is the dashboard's own: grey, whatever the port said last.
struct Colours {
  std::string background, text;
};
Colours colours_of(const std::string& word, bool offline) {
  if (offline) return {"#9e9e9e", "#202020"};
  present::Tone tone = present::Tone::kNeutral;
  for (present::Word candidate : present::kWords)
    if (word == present::word_text(candidate)) tone = present::tone_of(candidate);
  return {hex_colour(present::background_of(tone)), hex_colour(present::text_colour_of(tone))};
}

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  std::string out = text;
  while (out.back() == '0') out.pop_back();
  if (out.back() == '.') out.pop_back();
  return out;
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string form_decoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && hex_digit(text[i + 1]) >= 0 && hex_digit(text[i + 2]) >= 0) {
      out += static_cast<char>(hex_digit(text[i + 1]) * 16 + hex_digit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

std::string svg_path(const present::MarkStroke& stroke) {
  std::string out;
  for (std::size_t i = 0; i < stroke.points.size(); ++i)
    out += (i == 0 ? "M" : "L") + number(stroke.points[i].x) + " " + number(stroke.points[i].y);
  if (stroke.closed && !out.empty()) out += "Z";
  return out;
}

const std::string& marks_json() {
  static const std::string kMarks = [] {
    std::string out = "{\"pen\":" + number(present::kMarkPen);
    for (int i = 0; i <= static_cast<int>(present::Mark::kLast); ++i) {
      const auto mark = static_cast<present::Mark>(i);
      out += ",\"" + std::string(present::mark_name(mark)) + "\":[";
      const std::vector<present::MarkStroke>& strokes = present::mark_strokes(mark);
      for (std::size_t k = 0; k < strokes.size(); ++k)
        out += (k > 0 ? ",{\"d\":" : "{\"d\":") + json_text(svg_path(strokes[k])) +
               ",\"filled\":" + (strokes[k].filled ? "true" : "false") + "}";
      out += "]";
    }
    return out + "}";
  }();
  return kMarks;
}

std::string mark_of_word(std::string_view word) {
  for (present::Word candidate : present::kWords)
    if (word == present::word_text(candidate)) return present::mark_name(present::mark_of(candidate));
  return {};
}

std::string json_text(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '<': out += "\\u003c"; break;
      case '>': out += "\\u003e"; break;
      case '&': out += "\\u0026"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else if (c == 0xe2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(text[i + 2]) == 0xa8 || static_cast<unsigned char>(text[i + 2]) == 0xa9)) {
          // U+2028 and U+2029 end a line in a script.
          out += static_cast<unsigned char>(text[i + 2]) == 0xa8 ? "\\u2028" : "\\u2029";
          i += 2;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string html_text(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string line_json(const postgres::LineView& line, const std::string& since) {
  std::string out = "{\"since\":" + json_text(since) + ",\"stations\":[";
  bool first_station = true;
  for (std::size_t i = 0; i < line.ports.size();) {
    const postgres::PortView& head = line.ports[i];
    out += first_station ? "" : ",";
    first_station = false;
    out += "{\"host\":" + json_text(head.host) + ",\"station\":" + json_text(head.station_id) +
           ",\"version\":" + json_text(head.version) + ",\"ports\":[";
    bool first_port = true;
    for (; i < line.ports.size() && line.ports[i].station_id == head.station_id && line.ports[i].host == head.host; ++i) {
      const postgres::PortView& port = line.ports[i];
      const std::string word = port.offline ? "OFFLINE" : port.word;
      const Colours colours = colours_of(port.word, port.offline);
      out += first_port ? "" : ",";
      first_port = false;
      out += "{\"port\":" + std::to_string(port.port) + ",\"adapter\":" + json_text(port.adapter) +
             ",\"word\":" + json_text(word) + ",\"last_word\":" + json_text(port.word) +
             ",\"offline\":" + (port.offline ? "true" : "false") +
             ",\"background\":" + json_text(colours.background) + ",\"colour\":" + json_text(colours.text) +
             ",\"mark\":" + json_text(mark_of_word(word)) +
             ",\"board\":" + std::to_string(port.board) + ",\"step\":" + json_text(port.step) +
             ",\"progress\":" + std::to_string(port.progress) + ",\"address\":" + json_text(port.address) +
             ",\"verdict\":" + json_text(port.verdict) + ",\"reason\":" + json_text(port.reason) +
             ",\"adapter_health\":" + json_text(port.adapter_health) +
             ",\"heartbeat_age\":" + number(std::round(port.age * 10) / 10) + "}";
    }
    out += "]}";
  }
  out += "],\"totals\":{\"boards\":" + std::to_string(line.boards) + ",\"passed\":" + std::to_string(line.passed) +
         ",\"failed\":" + std::to_string(line.failed) +
         ",\"interrupted\":" + std::to_string(line.interrupted) + ",\"first_pass_yield\":" + number(line.first_pass_yield) +
         ",\"boards_per_hour\":" + number(line.boards_per_hour) + "},\"hours\":[";
  for (std::size_t h = 0; h < line.hours.size(); ++h)
    out += (h > 0 ? "," : "") + std::string("{\"hour\":") + std::to_string(line.hours[h].hour) +
           ",\"passed\":" + std::to_string(line.hours[h].passed) + ",\"failed\":" + std::to_string(line.hours[h].failed) + "}";
  out += "],\"failures\":[";
  for (std::size_t f = 0; f < line.failures.size(); ++f)
    out += (f > 0 ? "," : "") + std::string("{\"step\":") + json_text(line.failures[f].step) +
           ",\"reason\":" + json_text(line.failures[f].reason) + ",\"count\":" + std::to_string(line.failures[f].count) + "}";
  out += "],\"marks\":" + marks_json() + ",\"pool\":";
  if (!line.pool.known) {
    out += "null}";
    return out;
  }
  out += "{\"size\":" + std::to_string(line.pool.size) + ",\"used\":" + std::to_string(line.pool.used) +
         ",\"free\":" + std::to_string(line.pool.free) + ",\"used_today\":" + std::to_string(line.pool.today) +
         ",\"runs_out\":" + (line.pool.runs_out.empty() ? std::string("null") : json_text(line.pool.runs_out)) + "}}";
  return out;
}

std::string records_json(const std::vector<postgres::LineRecord>& rows) {
  std::string out = "[";
  for (std::size_t i = rows.size(); i-- > 0;) {
    const postgres::LineRecord& row = rows[i];
    out += i + 1 < rows.size() ? "," : "";
    out += "{\"host\":" + json_text(row.host) + ",\"port\":" + json_text(row.port) +
           ",\"station\":" + json_text(row.station_id);
    for (const auto& [name, value] : station::record_columns(row.record))
      out += "," + json_text(name) + ":" + json_text(value);
    out += "}";
  }
  return out + "]";
}

bool RecordFilter::keeps(const postgres::LineRecord& row) const {
  if (!verdict.empty() && station::verdict_name(row.record.overall) != verdict) return false;
  if (!station.empty() && row.host != station && row.station_id != station) return false;
  if (!address.empty()) {
    const std::string wanted = lower(address);
    if (lower(row.record.written_mac).find(wanted) == std::string::npos &&
        lower(row.record.board_mac).find(wanted) == std::string::npos)
      return false;
  }
  return true;
}

std::optional<Listen> parse_listen(std::string_view text) {
  Listen listen;
  std::string_view port_text = text;
  if (text.find(':') == std::string_view::npos) {
    listen.host = "127.0.0.1";
  } else if (!text.empty() && text.front() == '[') {
    std::size_t close = text.find("]:");
    if (close == std::string_view::npos) return std::nullopt;
    listen.host = std::string(text.substr(1, close - 1));
    port_text = text.substr(close + 2);
  } else {
    std::size_t colon = text.rfind(':');
    listen.host = std::string(text.substr(0, colon));
    port_text = text.substr(colon + 1);
    if (listen.host.find(':') != std::string::npos) return std::nullopt;  // IPv6 needs brackets
  }
  if (listen.host.empty() || port_text.empty() || port_text.size() > 5) return std::nullopt;
  for (char c : port_text)
    if (c < '0' || c > '9') return std::nullopt;
  listen.port = std::stoi(std::string(port_text));
  if (listen.port < 1 || listen.port > 65535) return std::nullopt;
  listen.loopback = listen.host == "::1" || listen.host == "localhost" || listen.host.rfind("127.", 0) == 0;
  return listen;
}

bool loopback_host(std::string_view host_header, int port) {
  std::string host = lower(host_header);
  const std::string with_port = ":" + std::to_string(port);
  for (const char* name : {"127.0.0.1", "localhost", "[::1]"})
    if (host == name || host == std::string(name) + with_port) return true;
  return false;
}

bool same_secret(std::string_view a, std::string_view b) {
  // Every byte of the longer text is looked at, whatever the others hold.
  const std::size_t length = std::max(a.size(), b.size());
  unsigned char differ = a.size() == b.size() ? 0 : 1;
  for (std::size_t i = 0; i < length; ++i) {
    const auto x = static_cast<unsigned char>(i < a.size() ? a[i] : 0);
    const auto y = static_cast<unsigned char>(i < b.size() ? b[i] : 0);
    differ = static_cast<unsigned char>(differ | (x ^ y));
  }
  return differ == 0 && length > 0;
}

std::string cookie_value(std::string_view header, std::string_view name) {
  std::size_t at = 0;
  while (at < header.size()) {
    std::size_t end = header.find(';', at);
    if (end == std::string_view::npos) end = header.size();
    std::string_view pair = header.substr(at, end - at);
    while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
    std::size_t equals = pair.find('=');
    if (equals != std::string_view::npos && pair.substr(0, equals) == name)
      return std::string(pair.substr(equals + 1));
    at = end + 1;
  }
  return "";
}

std::string session_cookie(std::string_view name, std::string_view value, bool secure) {
  return std::string(name) + "=" + std::string(value) + "; Path=/; HttpOnly; SameSite=Strict" +
         (secure ? "; Secure" : "");
}

std::string form_value(std::string_view body, std::string_view name) {
  std::size_t at = 0;
  while (at <= body.size()) {
    std::size_t end = body.find('&', at);
    if (end == std::string_view::npos) end = body.size();
    std::string_view pair = body.substr(at, end - at);
    std::size_t equals = pair.find('=');
    if (equals != std::string_view::npos && form_decoded(pair.substr(0, equals)) == name)
      return form_decoded(pair.substr(equals + 1));
    at = end + 1;
  }
  return "";
}

bool parse_day_start(std::string_view text, int& hour, int& minute) {
  if (text.size() != 5 || text[2] != ':') return false;
  for (std::size_t i : {0u, 1u, 3u, 4u})
    if (text[i] < '0' || text[i] > '9') return false;
  hour = (text[0] - '0') * 10 + (text[1] - '0');
  minute = (text[3] - '0') * 10 + (text[4] - '0');
  return hour < 24 && minute < 60;
}

std::time_t day_start(std::time_t now, int hour, int minute) {
  std::tm local{};
  localtime_r(&now, &local);
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = 0;
  local.tm_isdst = -1;
  std::time_t start = std::mktime(&local);
  if (start > now) {
    // Yesterday's, counted by the calendar: a day around a clock change is not 24 hours.
    local.tm_mday -= 1;
    local.tm_isdst = -1;
    start = std::mktime(&local);
  }
  return start;
}

std::string iso_local(std::time_t at) {
  std::tm local{};
  localtime_r(&at, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  std::string out = text;
  // ISO 8601's offset has a colon: +0100 -> +01:00.
  if (out.size() >= 5) out.insert(out.size() - 2, ":");
  return out;
}

}  // namespace skav::http

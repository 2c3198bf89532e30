#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backends/postgres/line_reports.h"
#include "backends/postgres/line_view.h"
#include "present/marks.h"

namespace skav::http {

// The rules of the line's dashboard that need no server: what it writes (JSON, HTML) and whom
// it lets in. Every text that comes from the database passes through json_text or html_text.

// `text` as a JSON string, quotes included. Besides what JSON requires, '<', '>', '&' and the
// line separators are escaped, so that the text is inert wherever a page puts it.
std::string json_text(std::string_view text);
// `text` with &, <, >, " and ' as entities.
std::string html_text(std::string_view text);

// A mark's stroke as SVG path data in the mark's unit square, "M0.12 0.54L0.4 0.82Z": the page
// draws the same outlines the windows draw, from the same tables, never a copy of its own.
std::string svg_path(const present::MarkStroke& stroke);
// Every mark as JSON, {"pen": 0.1, "tick": [{"d": "M...", "filled": false}, ...], ...}, by
// mark_name; built once.
const std::string& marks_json();
// The mark of a port's word ("tick" for "PASS"); empty for a word the windows do not show
// ("OFFLINE").
std::string mark_of_word(std::string_view word);

// The line as /api/line gives it (docs/dashboard.md). `since` is the day's start, ISO 8601.
std::string line_json(const postgres::LineView& line, const std::string& since);
// Records as /api/records gives them: an array of objects, newest first.
std::string records_json(const std::vector<postgres::LineRecord>& rows);

// What the records' filters keep: `verdict` exactly, `station` the host or the station's
// identity exactly, `address` a part of the written or the discovered address (any case).
// Empty filters keep everything.
struct RecordFilter {
  std::string verdict, station, address;
  bool keeps(const postgres::LineRecord& row) const;
};

// Where to listen: "127.0.0.1:8080", "[::1]:8080", "0.0.0.0:80", or a bare port ("8080": the
// loopback address). None when it is not one.
struct Listen {
  std::string host;
  int port = 0;
  bool loopback = false;  // 127.0.0.0/8 or ::1
};
std::optional<Listen> parse_listen(std::string_view text);

// Whether a request's Host header names the loopback dashboard at `port`: "127.0.0.1",
// "localhost" or "[::1]", with that port or none. Any other name may be a rebinding of a
// foreign name to this address, which a page elsewhere could then read.
bool loopback_host(std::string_view host_header, int port);

// Compares in time that depends on the lengths only, not on where the texts differ.
bool same_secret(std::string_view a, std::string_view b);

// The value of cookie `name` in a Cookie header; empty when absent.
std::string cookie_value(std::string_view header, std::string_view name);
// The Set-Cookie of a session: HttpOnly, SameSite=Strict, the whole site, Secure over TLS.
std::string session_cookie(std::string_view name, std::string_view value, bool secure);

// The value of `name` in a form body (application/x-www-form-urlencoded), decoded.
std::string form_value(std::string_view body, std::string_view name);

// The day's start, as seconds since the epoch: the latest local `hour`:`minute` at or before
// `now` (local midnight for 0:00). `day_start` "HH:MM" parsed into hour and minute; false when
// it is not one.
bool parse_day_start(std::string_view text, int& hour, int& minute);
std::time_t day_start(std::time_t now, int hour, int minute);
// `at` as ISO 8601 in local time with its offset, "2026-12-10T06:00:00+01:00".
std::string iso_local(std::time_t at);

}  // namespace skav::http

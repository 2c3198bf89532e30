#include "core/station/records.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/platform/files.h"
#include "core/platform/utf8.h"

namespace skav::station {

std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string iso8601_now() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  long offset = 0;  // minutes east of UTC
  platform::local_time(now, local, offset);
  char stamp[24];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
  // ISO 8601's extended form of the zone offset: +01:00.
  char text[64];
  std::snprintf(text, sizeof text, "%s%c%02ld:%02ld", stamp, offset < 0 ? '-' : '+',
                std::labs(offset) / 60, std::labs(offset) % 60);
  return text;
}

std::string records_header() {
  std::string header;
  for (const RecordColumn& column : kRecordColumns) {
    if (!header.empty()) header += ',';
    header += column.header;
  }
  return header + "\n";
}

Verdict overall_verdict(const BoardRecord& record) {
  bool fail = false, pass = false;
  for (Verdict v : record.steps) {
    if (v == Verdict::kTimeout || v == Verdict::kStopped || v == Verdict::kAdapterLost) return v;
    fail |= v == Verdict::kFail || v == Verdict::kNotRun;
    pass |= v == Verdict::kPass;
  }
  if (fail) return Verdict::kFail;
  return pass ? Verdict::kPass : Verdict::kSkipped;
}

std::vector<std::string> record_values(const BoardRecord& r) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
  std::vector<std::string> values = {r.time, r.adapter, r.board_mac, r.written_mac};
  for (Verdict step : r.steps) values.emplace_back(verdict_name(step));
  values.emplace_back(verdict_name(r.overall));
  values.emplace_back(seconds);
  values.emplace_back(std::to_string(r.attempt));
  values.push_back(r.adapter_name);
  return values;
}

std::vector<std::pair<std::string, std::string>> record_columns(const BoardRecord& r) {
  std::vector<std::string> values = record_values(r);
  std::vector<std::pair<std::string, std::string>> columns;
  for (std::size_t i = 0; i < kRecordColumnCount; ++i)
    columns.emplace_back(kRecordColumns[i].name, std::move(values[i]));
  return columns;
}

bool parse_record(const std::vector<std::string>& values, BoardRecord& out) {
  auto verdict = [](const std::string& text, Verdict& v) {
    for (Verdict candidate : {Verdict::kSkipped, Verdict::kNotRun, Verdict::kPass, Verdict::kFail,
                              Verdict::kTimeout, Verdict::kStopped, Verdict::kAdapterLost})
      if (text == verdict_name(candidate)) {
        v = candidate;
        return true;
      }
    return false;
  };
  if (values.size() < kFirstRecordColumns) return false;
  bool read = true;
  out.time = values[0];
  out.adapter = values[1];
  out.board_mac = values[2];
  out.written_mac = values[3];
  for (std::size_t i = 0; i < kStepSlots; ++i) read = verdict(values[4 + i], out.steps[i]) && read;
  read = verdict(values[4 + kStepSlots], out.overall) && read;
  const std::string& seconds = values[5 + kStepSlots];
  char* end = nullptr;
  double parsed = std::strtod(seconds.c_str(), &end);
  if (seconds.empty() || *end != '\0') return false;
  out.seconds = parsed;
  const std::size_t attempt_at = kFirstRecordColumns;
  if (values.size() > attempt_at && !values[attempt_at].empty()) {
    const std::string& attempt = values[attempt_at];
    long number = std::strtol(attempt.c_str(), &end, 10);
    if (*end != '\0' || number < 1 || number > 1000000) return false;
    out.attempt = static_cast<int>(number);
  }
  if (values.size() > kFirstRecordColumns + 1) out.adapter_name = values[kFirstRecordColumns + 1];
  return read;
}

bool parse_named_record(const std::vector<std::string>& header, const std::vector<std::string>& row,
                        BoardRecord& out) {
  if (row.size() != header.size()) {
    // A row appended by a newer station to a file begun by an older one: the old header is the
    // start of today's columns and the row has them all, in their order.
    if (header.size() > row.size() || row.size() > kRecordColumnCount) return false;
    for (std::size_t i = 0; i < header.size(); ++i)
      if (header[i] != kRecordColumns[i].header) return false;
    return parse_record(row, out);
  }
  std::vector<std::string> values;
  for (const RecordColumn& column : kRecordColumns) {
    auto found = std::find(header.begin(), header.end(), column.header);
    if (found == header.end()) {
      if (column.since == 1) return false;
      values.emplace_back();
    } else {
      values.push_back(row[static_cast<std::size_t>(found - header.begin())]);
    }
  }
  return parse_record(values, out);
}

settings::BoardHistory address_history(const std::filesystem::path& file, const MacDigits::Digits& written) {
  settings::BoardHistory history;
  std::string text;
  bool exists = false;
  // A year of a line's records is a few MB: read whole, once per board.
  if (platform::read_small_file(file, std::size_t{256} << 20, text, exists) != 0 || !exists) return history;
  std::vector<std::vector<std::string>> rows = parse_csv(text);
  if (rows.empty()) return history;
  const std::string wanted = MacDigits::colon_text(written);
  auto same = [&wanted](const std::string& mac) {
    if (mac.size() != wanted.size()) return false;
    for (std::size_t i = 0; i < mac.size(); ++i)
      if (std::toupper(static_cast<unsigned char>(mac[i])) != std::toupper(static_cast<unsigned char>(wanted[i])))
        return false;
    return true;
  };
  for (std::size_t r = 1; r < rows.size(); ++r) {
    BoardRecord record;
    if (!parse_named_record(rows.front(), rows[r], record) || !same(record.written_mac)) continue;
    // A record written before attempts were counted says 1: each such line is a run of its own.
    history.runs = std::max(history.runs + 1, record.attempt);
    history.last_passed = record.overall == Verdict::kPass;
  }
  return history;
}

std::string format_record(const BoardRecord& r) {
  std::string line;
  for (const std::string& value : record_values(r)) {
    if (!line.empty()) line += ',';
    line += csv_field(value);
  }
  return line + "\n";
}

std::vector<std::vector<std::string>> parse_csv(std::string_view text) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false, any = false;
  auto end_row = [&] {
    if (any || !field.empty() || !row.empty()) {
      row.push_back(std::move(field));
      rows.push_back(std::move(row));
    }
    row.clear();
    field.clear();
    any = false;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = any = true;
    } else if (c == ',') {
      row.push_back(std::move(field));
      field.clear();
      any = true;
    } else if (c == '\n') {
      end_row();
    } else if (c != '\r' || i + 1 >= text.size() || text[i + 1] != '\n') {
      field += c;
    }
  }
  end_row();
  return rows;
}

Status append_record(const std::filesystem::path& file, const BoardRecord& record) {
  // One write per line, so a crash leaves whole lines only; synced before the next board.
  if (int error = platform::append_synced(file, records_header(), format_record(record));
      error != 0)
    return Status::error(error, platform::utf8_of(file) + ": " + std::strerror(error));
  return {};
}

}  // namespace skav::station

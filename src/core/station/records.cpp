#include "core/station/records.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/platform/files.h"

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
  std::string header = "time,adapter,board_mac,written_mac";
  for (const char* name : kStepNames) header += std::string(",") + name;
  return header + ",verdict,seconds\n";
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

std::vector<std::pair<std::string, std::string>> record_columns(const BoardRecord& r) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
  std::vector<std::pair<std::string, std::string>> columns = {
      {"time", r.time}, {"adapter", r.adapter}, {"board_mac", r.board_mac},
      {"written_mac", r.written_mac}};
  for (std::size_t i = 0; i < kStepSlots; ++i) columns.emplace_back(kStepNames[i], verdict_name(r.steps[i]));
  columns.emplace_back("verdict", verdict_name(r.overall));
  columns.emplace_back("seconds", seconds);
  return columns;
}

std::string format_record(const BoardRecord& r) {
  std::string line;
  for (const auto& [name, value] : record_columns(r)) {
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
    return Status::error(error, file.string() + ": " + std::strerror(error));
  return {};
}

}  // namespace skav::station

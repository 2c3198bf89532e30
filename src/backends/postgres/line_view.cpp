#include "backends/postgres/line_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

#include "core/station/plan.h"

namespace skav::postgres {

namespace {

constexpr std::time_t kHour = 3600;
constexpr std::time_t kDay = 24 * kHour;

double seconds_between(std::time_t from, std::time_t to) { return static_cast<double>(to - from); }

}  // namespace

std::string run_out_day(std::int64_t free, std::int64_t used_today, std::time_t day_start, std::time_t now) {
  if (used_today <= 0 || now <= day_start) return "";
  const double per_second = static_cast<double>(used_today) / seconds_between(day_start, now);
  const double left = static_cast<double>(free) / per_second;
  // Far beyond any plan: a year's worth of days is not a date anyone acts on.
  if (left > 3650.0 * static_cast<double>(kDay)) return "";
  std::time_t at = now + static_cast<std::time_t>(left);
  std::tm local{};
  localtime_r(&at, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

void add_day(const std::vector<DayRecord>& records, std::time_t day_start, std::time_t now, LineView& out) {
  out.boards = static_cast<int>(records.size());
  out.passed = out.failed = out.interrupted = 0;
  out.hours.clear();
  out.failures.clear();
  // One bar per hour since the day's start, the current one included.
  const std::time_t hours = std::max<std::time_t>(1, (now - day_start + kHour - 1) / kHour);
  for (std::time_t h = 0; h < hours; ++h) {
    std::time_t at = day_start + h * kHour;
    std::tm local{};
    localtime_r(&at, &local);
    out.hours.push_back({local.tm_hour, 0, 0});
  }
  std::map<std::pair<std::string, std::string>, int> failures;
  std::map<std::string, bool> first_run;  // board address -> its first run passed
  std::vector<const DayRecord*> in_order;
  for (const DayRecord& record : records) in_order.push_back(&record);
  std::stable_sort(in_order.begin(), in_order.end(),
                   [](const DayRecord* a, const DayRecord* b) { return a->ended < b->ended; });
  for (const DayRecord* record : in_order) {
    const bool pass = record->verdict == "pass";
    if (!record->board_mac.empty()) first_run.try_emplace(record->board_mac, pass);
    // A run cut short did not fail its board: it is neither a failure nor a failed bar.
    if (record->verdict == "stopped" || record->verdict == "adapter-lost") {
      ++out.interrupted;
      continue;
    }
    (pass ? out.passed : out.failed) += 1;
    std::time_t slot = (record->ended - day_start) / kHour;
    if (record->ended >= day_start && slot < static_cast<std::time_t>(out.hours.size()))
      (pass ? out.hours[static_cast<std::size_t>(slot)].passed : out.hours[static_cast<std::size_t>(slot)].failed) += 1;
    if (pass) continue;
    std::pair<std::string, std::string> why{"run", record->verdict};
    for (const auto& [step, verdict] : record->steps)
      if (verdict != "pass" && verdict != "skipped") {
        why = {step, verdict};
        break;
      }
    ++failures[why];
  }
  for (const auto& [why, count] : failures) out.failures.push_back({why.first, why.second, count});
  std::stable_sort(out.failures.begin(), out.failures.end(),
                   [](const FailureCount& a, const FailureCount& b) { return a.count > b.count; });
  int first_passed = 0;
  for (const auto& [board, passed] : first_run) first_passed += passed ? 1 : 0;
  out.first_pass_yield = first_run.empty() ? 0 : static_cast<double>(first_passed) / static_cast<double>(first_run.size());
  const double elapsed_hours = std::max(seconds_between(day_start, now), 60.0) / static_cast<double>(kHour);
  out.boards_per_hour = std::round(static_cast<double>(out.boards) / elapsed_hours * 10.0) / 10.0;
}

DbResult DayRecords::read(const Runner& run, std::time_t day_start) {
  const bool whole = !since_stored_ || !whole_ || day_start != day_start_;
  // Columns 0-2 and 4-5 are the reader's; the steps' verdicts follow from column 6.
  std::string sql = "SELECT address, extract(epoch FROM ended_at)::bigint, verdict, board_mac, ";
  sql += since_stored_ ? "extract(epoch FROM stored_at)::float8" : "0::float8";
  sql += ", extract(epoch FROM now())::float8";
  for (const char* step : station::kStepNames) sql += ", " + quoted_name(step);
  sql += " FROM skav_records WHERE ended_at >= to_timestamp($1::bigint)";
  std::vector<std::string> params{std::to_string(day_start)};
  if (!whole) {
    std::string known = "{";
    for (const auto& [stored, address] : recent_) known += (known.size() > 1 ? "," : "") + std::to_string(address);
    char since[32];
    std::snprintf(since, sizeof since, "%.6f", since_);
    params.push_back(since);
    params.push_back(known + "}");
    sql += " AND stored_at >= to_timestamp($2::float8) AND NOT (address = ANY($3::bigint[])) "
           "ORDER BY stored_at LIMIT " + std::to_string(kMaxRead);
  }
  Reply read = run(sql.c_str(), params);
  if (!read.ok) return DbResult::of(read, "cannot read today's records");
  // Without a row the read's own time still moves the next read's start on.
  double now = 0;
  if (row_count(read.result) == 0 && since_stored_) {
    Reply clock = run("SELECT extract(epoch FROM now())::float8", {});
    if (!clock.ok) return DbResult::of(clock, "cannot read the database's clock");
    now = std::strtod(cell(clock.result, 0, 0).c_str(), nullptr);
  }
  if (whole) {
    records_.clear();
    recent_.clear();
    day_start_ = day_start;
    whole_ = true;
  }
  const int rows = row_count(read.result);
  for (int row = 0; row < rows; ++row) {
    DayRecord record;
    record.ended = static_cast<std::time_t>(cell_number(read.result, row, 1));
    record.verdict = cell(read.result, row, 2);
    record.board_mac = cell(read.result, row, 3);
    for (std::size_t s = 0; s < station::kStepNames.size(); ++s)
      record.steps.emplace_back(station::kStepNames[s], cell(read.result, row, 6 + static_cast<int>(s)));
    records_.push_back(std::move(record));
    if (since_stored_)
      recent_.emplace_back(std::strtod(cell(read.result, row, 4).c_str(), nullptr), cell_number(read.result, row, 0));
    now = std::strtod(cell(read.result, row, 5).c_str(), nullptr);
  }
  behind_ = !whole && rows == kMaxRead;
  // Behind, the next read starts where this one did (what it took is left out by address).
  if (since_stored_ && !behind_) {
    since_ = std::max(since_, now - static_cast<double>(kOverlap.count()));
    recent_.erase(std::remove_if(recent_.begin(), recent_.end(),
                                 [this](const auto& kept) { return kept.first < since_; }),
                  recent_.end());
  }
  return {};
}

DbResult read_line(const Runner& run, std::time_t day_start, std::time_t now, DayRecords& records,
                   bool with_pool, LineView& out) {
  out = LineView{};
  Reply begun = run("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", {});
  if (!begun.ok) return DbResult::of(begun, "cannot read the line");
  auto done = [&run](DbResult result) {
    run("ROLLBACK", {});
    return result;
  };
  Reply ports = run("SELECT station_id, host, version, port, adapter, word, step, address, verdict, "
                    "reason, adapter_health, board, progress, "
                    "extract(epoch FROM now() - heartbeat)::float8 FROM skav_ports "
                    "ORDER BY host, station_id, port",
                    {});
  if (!ports.ok) {
    if (ports.fault == Fault::kMissing)
      return done({Fault::kMissing, "the database has no table of the stations' ports (skav pool migrate)"});
    return done(DbResult::of(ports, "cannot read the stations' ports"));
  }
  for (int row = 0; row < row_count(ports.result); ++row) {
    PortView port;
    port.station_id = cell(ports.result, row, 0);
    port.host = cell(ports.result, row, 1);
    port.version = cell(ports.result, row, 2);
    port.port = static_cast<int>(cell_number(ports.result, row, 3));
    port.adapter = cell(ports.result, row, 4);
    port.word = cell(ports.result, row, 5);
    port.step = cell(ports.result, row, 6);
    port.address = cell(ports.result, row, 7);
    port.verdict = cell(ports.result, row, 8);
    port.reason = cell(ports.result, row, 9);
    port.adapter_health = cell(ports.result, row, 10);
    port.board = static_cast<int>(cell_number(ports.result, row, 11));
    port.progress = static_cast<int>(cell_number(ports.result, row, 12));
    port.age = std::strtod(cell(ports.result, row, 13).c_str(), nullptr);
    port.offline = port.age > kOfflineSeconds;
    out.ports.push_back(std::move(port));
  }
  if (DbResult read = records.read(run, day_start); !read.ok()) return done(read);
  add_day(records.records(), day_start, now, out);
  if (!with_pool) return done({});
  Reply pool = run("SELECT r.last_address - r.first_address + 1, "
                   "(SELECT count(*) FROM skav_addresses a WHERE a.address BETWEEN r.first_address AND r.last_address), "
                   "(SELECT count(*) FROM skav_addresses a WHERE a.reserved_at >= to_timestamp($1::bigint)) "
                   "FROM skav_range r",
                   {std::to_string(day_start)});
  if (!pool.ok) return done(DbResult::of(pool, "cannot read the address pool"));
  if (row_count(pool.result) == 1) {
    out.pool.known = true;
    out.pool.size = cell_number(pool.result, 0, 0);
    out.pool.used = cell_number(pool.result, 0, 1);
    out.pool.free = out.pool.size - out.pool.used;
    out.pool.today = cell_number(pool.result, 0, 2);
    out.pool.runs_out = run_out_day(out.pool.free, out.pool.today, day_start, now);
  }
  return done({});
}

DbResult read_line(const Runner& run, std::time_t day_start, std::time_t now, LineView& out) {
  DayRecords records(false);
  return read_line(run, day_start, now, records, true, out);
}

}  // namespace skav::postgres

#include "backends/postgres/line_reports.h"

#include "backends/postgres/schema.h"

namespace skav::postgres {

namespace {

// The schema version of the database `session` is connected to (0: none yet).
DbResult schema_version_of(Session& session, int& version) {
  return read_schema_version(
      [&session](const char* sql, const std::vector<std::string>& params) { return session.run(sql, params); },
      version);
}

DbResult no_range() { return {Fault::kMissing, "the database has no address range (skav pool init)"}; }

}  // namespace

DbResult read_status(const std::string& url, RangeStatus& out) {
  Session session(url);
  if (!session.opened().ok()) return session.opened();
  // One snapshot of the tables for all the figures.
  session.run("BEGIN ISOLATION LEVEL REPEATABLE READ");
  Reply range = session.run("SELECT first_address, last_address, next_address FROM skav_range");
  if (!range.ok) return range.fault == Fault::kMissing ? no_range() : DbResult::of(range, "cannot read the range");
  if (row_count(range.result) != 1) return no_range();
  out = RangeStatus{};
  out.first = cell_number(range.result, 0, 0);
  out.last = cell_number(range.result, 0, 1);
  out.next = cell_number(range.result, 0, 2);
  Reply counts = session.run("SELECT count(*) FILTER (WHERE address BETWEEN $1 AND $2), "
                             "count(*) FILTER (WHERE outcome IS NOT NULL) FROM skav_addresses",
                             {std::to_string(out.first), std::to_string(out.last)});
  if (!counts.ok) return DbResult::of(counts, "cannot count the addresses");
  out.used = cell_number(counts.result, 0, 0);
  out.finished = cell_number(counts.result, 0, 1);
  out.free = out.last - out.first + 1 - out.used;
  int version = 0;
  if (DbResult read = schema_version_of(session, version); !read.ok()) return read;
  // A database older than re-tests has had none.
  if (version >= kRetestsVersion) {
    Reply retests = session.run("SELECT count(outcome), count(*) - count(outcome) FROM skav_retests");
    if (!retests.ok) return DbResult::of(retests, "cannot count the re-tests");
    out.retests_finished = cell_number(retests.result, 0, 0);
    out.retests_open = cell_number(retests.result, 0, 1);
  }
  Reply last = session.run("SELECT address, host, port, reserved_at FROM skav_addresses "
                           "ORDER BY reserved_at DESC, address DESC LIMIT 1");
  if (!last.ok) return DbResult::of(last, "cannot read the last address");
  if (row_count(last.result) == 1) {
    out.last_handed = cell_number(last.result, 0, 0);
    out.last_host = cell(last.result, 0, 1);
    out.last_port = cell(last.result, 0, 2);
    out.last_time = cell(last.result, 0, 3);
  }
  Reply stations = session.run("SELECT host, port, count(*), count(outcome), "
                               "(array_agg(address ORDER BY reserved_at DESC, address DESC))[1], max(reserved_at) "
                               "FROM skav_addresses GROUP BY host, port ORDER BY host, port");
  if (!stations.ok) return DbResult::of(stations, "cannot read the stations");
  for (int row = 0; row < row_count(stations.result); ++row) {
    StationUse use;
    use.host = cell(stations.result, row, 0);
    use.port = cell(stations.result, row, 1);
    use.reserved = cell_number(stations.result, row, 2);
    use.finished = cell_number(stations.result, row, 3);
    use.last = cell_number(stations.result, row, 4);
    use.last_time = cell(stations.result, row, 5);
    out.stations.push_back(std::move(use));
  }
  session.run("COMMIT");
  return {};
}

DbResult read_records(const std::string& url, const std::string& since, RecordsReport& out) {
  Session session(url);
  if (!session.opened().ok()) return session.opened();
  out = RecordsReport{};
  int version = 0;
  if (DbResult read = schema_version_of(session, version); !read.ok()) return read;
  if (version == 0) return {Fault::kMissing, "the database has no records table (skav pool init)"};
  // A column the database does not have yet (an older schema) reads as empty; one a newer
  // station added is not this station's to show.
  std::string columns = "address, host, port, station_id, ended_at";
  for (const station::RecordColumn& column : station::kRecordColumns)
    columns += ", " + (column.since <= version ? quoted_name(column.name) + "::text" : std::string("NULL"));
  // A re-test's record is a row of its own, once it has one: a claim closed because its run
  // never ended (see PgAddressPool) has an outcome and no record.
  std::string sql = "SELECT * FROM (SELECT " + columns + " FROM skav_records";
  if (version >= kRetestsVersion) sql += " UNION ALL SELECT " + columns + " FROM skav_retests WHERE outcome IS NOT NULL AND ended_at IS NOT NULL";
  sql += ") AS records";
  std::vector<std::string> params;
  if (!since.empty()) {
    sql += " WHERE ended_at >= $1::timestamptz";
    params.push_back(since);
  }
  sql += " ORDER BY ended_at, address";
  Reply rows = session.run(sql.c_str(), params);
  if (!rows.ok) {
    if (rows.fault == Fault::kMissing) return {Fault::kMissing, "the database has no records table (skav pool init)"};
    if (rows.fault == Fault::kInvalid) return {Fault::kInvalid, "--since: " + rows.why};
    return DbResult::of(rows, "cannot read the records");
  }
  constexpr int kFirstRecordColumn = 5;
  for (int row = 0; row < row_count(rows.result); ++row) {
    LineRecord line;
    line.address = cell_number(rows.result, row, 0);
    line.host = cell(rows.result, row, 1);
    line.port = cell(rows.result, row, 2);
    line.station_id = cell(rows.result, row, 3);
    std::vector<std::string> values;
    for (std::size_t c = 0; c < station::kRecordColumnCount; ++c)
      values.push_back(cell(rows.result, row, kFirstRecordColumn + static_cast<int>(c)));
    if (!station::parse_record(values, line.record)) ++out.unreadable;
    out.rows.push_back(std::move(line));
  }
  return {};
}

std::vector<std::string> record_heading() {
  std::vector<std::string> heading = {"host", "port"};
  for (const station::RecordColumn& column : station::kRecordColumns) heading.emplace_back(column.header);
  return heading;
}

std::vector<std::string> record_fields(const LineRecord& line) {
  std::vector<std::string> fields = {line.host, line.port};
  for (std::string& value : station::record_values(line.record)) fields.push_back(std::move(value));
  return fields;
}

std::string records_csv(const std::vector<LineRecord>& rows) {
  std::string text;
  auto line = [&text](const std::vector<std::string>& fields) {
    for (std::size_t i = 0; i < fields.size(); ++i) text += (i > 0 ? "," : "") + station::csv_field(fields[i]);
    text += '\n';
  };
  line(record_heading());
  for (const LineRecord& row : rows) line(record_fields(row));
  return text;
}

}  // namespace skav::postgres

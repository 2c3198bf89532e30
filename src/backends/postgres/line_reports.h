#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/station/records.h"
#include "backends/postgres/connection.h"

namespace skav::postgres {

// What `skav pool status` shows: one station's (host and port's) share of the range.
struct StationUse {
  std::string host;
  std::string port;
  std::int64_t reserved = 0;     // addresses this station reserved
  std::int64_t finished = 0;     // of them, boards whose outcome is recorded
  std::int64_t last = -1;        // its last address
  std::string last_time;         // when it reserved that
};
struct RangeStatus {
  std::int64_t first = 0, last = 0;
  std::int64_t next = 0;         // where the next search for a free address starts
  std::int64_t used = 0;         // addresses reserved, whatever became of their boards
  std::int64_t free = 0;         // addresses in the range never reserved
  std::int64_t finished = 0;     // reserved addresses with a recorded outcome
  std::int64_t retests_finished = 0; // further runs of handed-out addresses that have an outcome
  std::int64_t retests_open = 0;     // further runs claimed and not finished (at most one an address)
  std::int64_t last_handed = -1; // the address reserved last (-1: none)
  std::string last_host, last_port, last_time;
  std::vector<StationUse> stations;  // by host and port
};
// The range and its use, from one snapshot of the tables. kMissing: no range (skav pool init).
DbResult read_status(const std::string& url, RangeStatus& out);

// One finished board as the line's database keeps it.
struct LineRecord {
  std::int64_t address = -1;   // the address the pool gave it
  std::string host;            // the station's host that reserved it
  std::string port;            // the adapter it was on
  std::string station_id;      // the station's identity; empty for a station without one
  station::BoardRecord record; // the production record
};

// The records of the line, oldest first. `unreadable`: records with a value this station cannot
// read (a verdict or a column of a newer station); what could be read is in `rows`.
struct RecordsReport {
  std::vector<LineRecord> rows;
  std::size_t unreadable = 0;
};
// `since` (ISO 8601, empty: all) keeps the boards that ended at or after it; a `since` the
// database cannot read as a time is kInvalid. kMissing: no records table (skav pool init).
DbResult read_records(const std::string& url, const std::string& since, RecordsReport& out);

// `skav records`' columns: the station's host and port, then the production record's; and one
// record's values in that order.
std::vector<std::string> record_heading();
std::vector<std::string> record_fields(const LineRecord& line);
// The records as `skav records --csv` prints them: the heading, then a line per record, each
// ended by '\n'.
std::string records_csv(const std::vector<LineRecord>& rows);

}  // namespace skav::postgres

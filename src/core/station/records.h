#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/mac_digits.h"
#include "core/settings/address_pool.h"
#include "core/station/plan.h"
#include "core/station/verdict.h"
#include "core/status.h"

namespace skav::station {

// One finished board, as the production records keep it.
struct BoardRecord {
  std::string time;         // ISO 8601 with time zone, when the run ended
  std::string adapter;      // the adapter's system name
  std::string board_mac;    // as discovered, 02:00:00:00:00:01
  std::string written_mac;  // written into its environment, 00:11:22:33:44:55; empty if none
  std::array<Verdict, kStepSlots> steps{};  // by the run's steps; all skipped at first
  Verdict overall = Verdict::kSkipped;
  double seconds = 0;
  int attempt = 1;  // the board's run: 1 for its first, 2 for its first re-test, ...
  // The adapter as the system shows it to the operator ("Ethernet 2"); empty when unknown.
  std::string adapter_name;

  Verdict& step(StepSlot slot) { return steps[static_cast<std::size_t>(slot)]; }
  Verdict step(StepSlot slot) const { return steps[static_cast<std::size_t>(slot)]; }
};

inline constexpr const char* kRecordsFile = "skav-records.csv";

// One column of the production record: the one declaration that the records file, the line's
// database (its columns and inserts) and its reports follow.
struct RecordColumn {
  const char* name;      // the database's column name, and the name in BoardOutcome::columns
  const char* header;    // the word in the records file's header line
  const char* sql_type;  // the database's type for it
  int since;             // the line database's schema version that first has the column
};

// The record's columns in the order of the records file: time, adapter, board_mac, written_mac,
// one per step, verdict, seconds, attempt. A new column goes at the end, with the `since` of the
// database migration that adds it (the database's columns are never changed or dropped).
inline constexpr std::size_t kFirstRecordColumns = 4 + kStepSlots + 2;  // since the first version
inline constexpr std::size_t kRecordColumnCount = kFirstRecordColumns + 2;
inline constexpr std::array<RecordColumn, kRecordColumnCount> kRecordColumns = [] {
  std::array<RecordColumn, kRecordColumnCount> columns{};
  std::size_t at = 0;
  for (const char* name : {"time", "adapter", "board_mac", "written_mac"})
    columns[at++] = {name, name, "text", 1};
  for (const char* name : kStepNames) columns[at++] = {name, name, "text", 1};
  columns[at++] = {"verdict", "verdict", "text", 1};
  columns[at++] = {"seconds", "seconds", "text", 1};
  columns[at++] = {"attempt", "attempt", "integer", 3};
  columns[at++] = {"adapter_name", "adapter_name", "text", 4};
  return columns;
}();

// "time,adapter,board_mac,written_mac,<one column per step>,verdict,seconds,attempt,adapter_name\n".
std::string records_header();

// The record's values as written, one per column of kRecordColumns.
std::vector<std::string> record_values(const BoardRecord& record);

// The record's columns by name, in the header's order, as written.
std::vector<std::pair<std::string, std::string>> record_columns(const BoardRecord& record);

// The record from its values as record_values() writes them (kRecordColumns' order). Values of
// columns added later than the first may be missing or empty (a record written before they
// existed): they keep their default. False when a value cannot be read (a verdict this station
// does not know, seconds or an attempt that are not a number, too few values); what could be
// read is set, the rest keeps its default.
bool parse_record(const std::vector<std::string>& values, BoardRecord& out);

// The record from a row of a records file whose header row is `header`: the values by the
// header's names, so that a file written before a column existed, or with columns this
// station does not know, reads as parse_record() reads its values.
bool parse_named_record(const std::vector<std::string>& header, const std::vector<std::string>& row,
                        BoardRecord& out);

// What the records file says of the boards that were sent `written` (12 digits, either case)
// in an environment image: how many runs, and whether the last passed. A missing or
// unreadable file says nothing.
settings::BoardHistory address_history(const std::filesystem::path& file, const MacDigits::Digits& written);

// A CSV field as written: quoted (quotes doubled) when it holds a comma, a quote or a line end,
// as an adapter name from the system may.
std::string csv_field(const std::string& text);

// The line as written (with its "\n").
std::string format_record(const BoardRecord& record);

// The rows of a CSV text as csv_field writes them: fields split at commas, a quoted field's
// doubled quotes undone, line ends inside quotes kept; a CR before a line's LF dropped. Blank
// lines give no row.
std::vector<std::vector<std::string>> parse_csv(std::string_view text);

// Appends one line per board to a CSV file (the header line first when the file is new or
// empty). Each line goes out in one write and is flushed to disk before this returns.
Status append_record(const std::filesystem::path& file, const BoardRecord& record);

// The overall verdict of a run from its steps: a step whose transfer did not complete gives
// its verdict (timeout, stopped, adapter-lost); otherwise fail if a step failed or did not run;
// pass when every configured step passed; skipped when none was configured.
Verdict overall_verdict(const BoardRecord& record);

// Current local time as 2026-12-09T06:26:13+01:00.
std::string iso8601_now();

}  // namespace skav::station

#pragma once

#include <filesystem>
#include <string>

#include "core/transfer/verdict.h"

namespace skav::station {

// One finished board, as the production records keep it.
struct BoardRecord {
  std::string time;         // ISO 8601 with time zone, when the run ended
  std::string adapter;      // the adapter's system name
  std::string board_mac;    // as discovered, 02:00:00:00:00:01
  std::string written_mac;  // written into its environment, 00:11:22:33:44:55; empty if none
  transfer::Verdict environment = transfer::Verdict::kSkipped;
  transfer::Verdict kernel = transfer::Verdict::kSkipped;
  transfer::Verdict uboot = transfer::Verdict::kSkipped;
  transfer::Verdict filesystem = transfer::Verdict::kSkipped;
  transfer::Verdict diag = transfer::Verdict::kSkipped;
  transfer::Verdict overall = transfer::Verdict::kSkipped;
  double seconds = 0;
};

inline constexpr const char* kRecordsFile = "skav-records.csv";
inline constexpr const char* kRecordsHeader =
    "time,adapter,board_mac,written_mac,environment,kernel,uboot,filesystem,diag,verdict,seconds\n";

// Appends one line per board to a CSV file (header line first when the file is new or empty).
// Each line goes out in one write and is flushed to disk before this returns. Returns false
// (with `error` set) when the line could not be written.
bool append_record(const std::filesystem::path& file, const BoardRecord& record, std::string& error);

// The line as written (with its "\n").
std::string format_record(const BoardRecord& record);

// The overall verdict of a run from its steps: timeout if any step timed out, fail if any failed,
// pass if at least one passed, else skipped.
transfer::Verdict overall_verdict(const BoardRecord& record);

// Current local time as 2026-12-09T06:26:13+01:00.
std::string iso8601_now();

}  // namespace skav::station

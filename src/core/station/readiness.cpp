#include "core/station/readiness.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

#include "core/config/ini.h"
#include "core/config/section_table.h"
#include "core/platform/files.h"
#include "core/station/records.h"

namespace skav::station {

namespace {

namespace fs = std::filesystem;

constexpr const char* kFixConfig = "fix config.ini";

std::string error_text(int error) { return std::strerror(error); }

// The file of a step as the operator named it in config.ini.
StationFault file_fault(const PlanStep& step) {
  const std::string name = step.record.filename;
  switch (step.file_issue) {
    case FileIssue::kMissing:
      return {name + " is missing", std::string("put it back or ") + kFixConfig};
    case FileIssue::kNotAFile:
      return {name + " is not a file", std::string("put the file there or ") + kFixConfig};
    case FileIssue::kTooLarge:
      return {name + " is larger than the " + std::to_string(step.capacity) + " bytes the " +
                  step.name() + " step can take",
              std::string("use a smaller file or ") + kFixConfig};
    case FileIssue::kUnreadable: {
      // The plan's text ends with the system's reason: "file X cannot be read: Permission denied".
      const std::size_t reason = step.file_problem.rfind(": ");
      return {name + " cannot be read" + (reason == std::string::npos ? "" : step.file_problem.substr(reason)),
              std::string("make it readable or ") + kFixConfig};
    }
    case FileIssue::kUnmeasured:
    case FileIssue::kNone:
      break;
  }
  return {name + " cannot be measured", std::string("make it readable or ") + kFixConfig};
}

// Whether a line could be appended to the records file: the file opens for appending, or
// where there is none yet, a file can be made beside it. The probe's name is the process's and
// the call's own, so ports checking at once do not share one.
std::optional<StationFault> records_fault(const fs::path& dir) {
  const fs::path records = dir / kRecordsFile;
  std::error_code ec;
  const bool exists = fs::exists(records, ec);
  fs::path target = records;
  if (!exists) {
    static std::atomic<unsigned> probes{0};
    target = dir / (".skav-check-" + std::to_string(platform::process_id()) + "-" +
                    std::to_string(probes.fetch_add(1)));
  }
  std::FILE* file = platform::open_file(target, exists ? "ab" : "wb");
  if (file == nullptr) {
    const int error = errno;
    return StationFault{records.string() + " cannot be written: " + error_text(error),
                        "make the folder writable (or free disk space), or start the station in "
                        "another folder"};
  }
  std::fclose(file);
  if (!exists) fs::remove(target, ec);
  return std::nullopt;
}

}  // namespace

std::optional<StationFault> plan_fault(const RunPlan& plan) {
  bool any = false;
  for (const PlanStep& step : plan.steps) {
    if (!step.used) continue;
    any = true;
    // The environment's description file is optional; one that is named must be there.
    if (step.kind == StepKind::kEnvironment &&
        config::equals_ignore_case(step.record.filename, config::kMissing))
      continue;
    if (step.file_issue != FileIssue::kNone) return file_fault(step);
  }
  if (!any) return StationFault{"config.ini names nothing to send", "name the images in config.ini"};
  return std::nullopt;
}

std::optional<StationFault> find_station_fault(const fs::path& dir) {
  const fs::path config_file = dir / "config.ini";
  std::error_code ec;
  const fs::file_status status = fs::status(config_file, ec);
  if (!fs::exists(status)) {
    fs::path where = fs::absolute(dir, ec);
    if (ec) where = dir;
    return StationFault{"config.ini is missing in " + where.lexically_normal().string(),
                        "start the station in the folder that holds config.ini, or put one there"};
  }
  if (!fs::is_regular_file(status)) return StationFault{"config.ini is not a file", "put config.ini there"};
  std::FILE* readable = platform::open_file(config_file, "rb");
  if (readable == nullptr)
    return StationFault{"config.ini cannot be read: " + error_text(errno), "make config.ini readable"};
  std::fclose(readable);
  config::SectionTable table;
  config::read_section_table(table, config_file);
  if (std::optional<StationFault> fault = plan_fault(make_plan(table, dir))) return fault;
  return records_fault(dir);
}

StationFault pool_fault(const settings::PoolResult<>& check) {
  switch (check.code) {
    case settings::PoolCode::kExhausted:
      return {check.message, "give the line a new range of MAC addresses"};
    case settings::PoolCode::kRefused:
      return {check.message, "set the next MAC address"};
    case settings::PoolCode::kUnavailable:
    case settings::PoolCode::kUnset:
    case settings::PoolCode::kKept:
    case settings::PoolCode::kDone:
      break;
  }
  return {check.message, "make the MAC address pool reachable; the waiting board goes on by itself"};
}

}  // namespace skav::station

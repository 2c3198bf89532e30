#include "core/station/plan.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "core/config/ini.h"
#include "core/log.h"
#include "core/platform/files.h"
#include "core/platform/utf8.h"

namespace skav::station {

namespace {

namespace fs = std::filesystem;

std::string format(const char* fmt, ...) __attribute__((format(SKAV_PRINTF, 1, 2)));

std::string format(const char* fmt, ...) {
  char buffer[512];
  va_list args;
  va_start(args, fmt);
  int n = std::vsnprintf(buffer, sizeof buffer, fmt, args);
  va_end(args);
  return n < 0 ? std::string() : std::string(buffer);
}

// Why the file cannot be read whole into `capacity` bytes (kNone: it can), and its size.
// Opening it tells a file that is there but not ours to read from one that is.
FileIssue check_file(const fs::path& path, const char* filename, std::uintmax_t capacity,
                     std::uint64_t& size, std::string& problem) {
  std::error_code ec;
  auto status = fs::status(path, ec);
  if (!fs::exists(status)) {
    problem = format("file %s missing", filename);
    return FileIssue::kMissing;
  }
  if (!fs::is_regular_file(status)) {
    problem = format("%s is not a file", filename);
    return FileIssue::kNotAFile;
  }
  std::uintmax_t length = fs::file_size(path, ec);
  if (ec) {
    problem = format("file %s cannot be measured", filename);
    return FileIssue::kUnmeasured;
  }
  size = length;
  if (length > capacity) {
    problem = format("file %s is larger than %ju bytes", filename, capacity);
    return FileIssue::kTooLarge;
  }
  std::FILE* file = platform::open_file(path, "rb");
  if (file == nullptr) {
    problem = format("file %s cannot be read: %s", filename, std::strerror(errno));
    return FileIssue::kUnreadable;
  }
  std::fclose(file);
  return FileIssue::kNone;
}

void check_step_file(PlanStep& step, std::uintmax_t capacity) {
  step.capacity = capacity;
  step.file_issue = check_file(step.file, step.record.filename, capacity, step.size, step.file_problem);
  // A step that cannot read its file sends nothing of it.
  if (step.file_issue != FileIssue::kNone) step.size = 0;
}

bool is_missing(const char* text) { return config::equals_ignore_case(text, config::kMissing); }

PlanStep base_step(StepSlot slot, StepKind kind, config::SectionIndex index,
                   const config::SectionTable& table, const fs::path& dir) {
  PlanStep step;
  step.slot = slot;
  step.kind = kind;
  step.table_index = index;
  step.record = table[index];
  // operator/ keeps an absolute file name as it is.
  step.file = dir / platform::path_from_utf8(step.record.filename);
  step.memory = transfer::memory_type_code(step.record.mem_type);
  return step;
}

// The environment is written into spi or lpc; its description file is optional.
PlanStep plan_environment(const config::SectionTable& table, const fs::path& dir) {
  PlanStep step = base_step(StepSlot::kEnvironment, StepKind::kEnvironment, config::kUbootCfg,
                            table, dir);
  step.command = transfer::kWrite;
  if (step.memory != transfer::kSpi && step.memory != transfer::kLpc) {
    step.skip_reason = format("Mem_type %s is not spi or lpc", step.record.mem_type);
    step.skip = SkipReason::kMemoryType;
    return step;
  }
  step.used = true;
  check_step_file(step, UINTMAX_MAX);
  return step;
}

// An image section needs a file, a memory type nand, spi or lpc, and a known command.
PlanStep plan_image(StepSlot slot, config::SectionIndex index, const config::SectionTable& table,
                    const fs::path& dir) {
  PlanStep step = base_step(slot, StepKind::kImage, index, table, dir);
  std::uint8_t command = transfer::command_code(step.record.command);
  if (is_missing(step.record.filename)) {
    step.skip_reason = "not configured";
    step.skip = SkipReason::kNotConfigured;
  } else if (step.memory != transfer::kNand && step.memory != transfer::kSpi &&
             step.memory != transfer::kLpc) {
    step.skip_reason = format("Mem_type %s is not nand, spi or lpc", step.record.mem_type);
    step.skip = SkipReason::kMemoryType;
  } else if (command == transfer::kInvalidCode) {
    step.skip_reason = format("Command %s is not write, read or exe", step.record.command);
    step.skip = SkipReason::kCommand;
  } else {
    step.used = true;
    step.command = command;
    check_step_file(step, kImageCapacity);
    // The run skips an image it cannot read whole rather than send part of it.
    if (!step.file_problem.empty()) step.skip = SkipReason::kFile;
  }
  return step;
}

// The diagnostic image is started whatever its Command says; a file that cannot be read still
// makes the exchange, with 0 bytes.
PlanStep plan_diag(const config::SectionTable& table, const fs::path& dir) {
  PlanStep step = base_step(StepSlot::kDiag, StepKind::kDiag, config::kDiag, table, dir);
  step.command = transfer::kExe;
  if (is_missing(step.record.filename)) {
    step.skip_reason = "not configured";
    step.skip = SkipReason::kNotConfigured;
  } else if (step.memory != transfer::kMem) {
    step.skip_reason = format("Mem_type %s is not mem", step.record.mem_type);
    step.skip = SkipReason::kMemoryType;
  } else {
    step.used = true;
    check_step_file(step, kDiagCapacity);
  }
  return step;
}

}  // namespace

std::uint32_t RunPlan::largest_image() const {
  std::uint64_t largest = 0;
  for (const PlanStep& step : steps)
    if (step.kind == StepKind::kImage && step.used && step.file_problem.empty())
      largest = std::max(largest, step.size);
  return static_cast<std::uint32_t>(largest);
}

const PlanStep& RunPlan::step(StepSlot slot) const {
  return *std::find_if(steps.begin(), steps.end(), [slot](const PlanStep& s) { return s.slot == slot; });
}

RunPlan make_plan(const config::SectionTable& table, const fs::path& dir) {
  RunPlan plan;
  plan.steps = {plan_environment(table, dir),
                plan_image(StepSlot::kKernel, config::kKernel, table, dir),
                plan_image(StepSlot::kUboot, config::kUboot, table, dir),
                plan_image(StepSlot::kFilesystem, config::kFilesystem, table, dir),
                plan_diag(table, dir)};
  return plan;
}

std::string format_section_record(std::size_t index, const config::SectionRecord& record) {
  return format("%zu %s Filename=%s Mem_Src_addr=0x%08X Mem_Dst_addr=0x%08X Mem_type=%s Command=%s",
                index, record.name, record.filename, static_cast<unsigned>(record.mem_src_addr),
                static_cast<unsigned>(record.mem_dst_addr), record.mem_type, record.command);
}

std::string describe_step(const PlanStep& step) {
  std::string text = format("%zu %s: ", step.table_index, step.record.name);
  if (step.skip != SkipReason::kNone) text += "skipped, ";
  return text + step_summary(step);
}

std::string step_summary(const PlanStep& step) {
  const config::SectionRecord& record = step.record;
  if (!step.used) return step.skip_reason;
  if (step.skip == SkipReason::kFile) return step.file_problem;
  std::string text = format("memory type %u (%s), command %u ", static_cast<unsigned>(step.memory),
                            record.mem_type, static_cast<unsigned>(step.command));
  switch (step.kind) {
    case StepKind::kEnvironment:
      text += "(write), environment image";
      if (!step.file_problem.empty()) return text + ", ethaddr only: description " + step.file_problem;
      return text + format(" with the variables of %s (%ju bytes)", record.filename,
                           static_cast<std::uintmax_t>(step.size));
    case StepKind::kDiag:
      text += "(exe), ";
      if (!step.file_problem.empty()) return text + "0 bytes (" + step.file_problem + ")";
      break;
    case StepKind::kImage:
      text += format("(%s), ", record.command);
      break;
  }
  return text + format("%ju bytes from %s", static_cast<std::uintmax_t>(step.size), record.filename);
}

}  // namespace skav::station

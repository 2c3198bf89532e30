#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/config/section_table.h"
#include "core/transfer/command.h"

namespace skav::station {

inline constexpr std::uint32_t kImageCapacity = 67108860;  // largest kernel, uboot, filesystem image
inline constexpr std::uint32_t kDiagCapacity = 33554428;   // largest diagnostic image

// Each step's place among the production record's columns and a board's rows.
enum class StepSlot : std::size_t { kEnvironment, kKernel, kUboot, kFilesystem, kDiag };
inline constexpr std::size_t kStepSlots = 5;
inline constexpr std::array<const char*, kStepSlots> kStepNames = {"environment", "kernel", "uboot",
                                                                   "filesystem", "diag"};

enum class StepKind { kEnvironment, kImage, kDiag };

// Why a run does not send a step. kMemoryType, kCommand: the section names a Mem_type or a
// Command the step cannot take; kFile: an image step whose file cannot be read whole.
enum class SkipReason { kNone, kNotConfigured, kMemoryType, kCommand, kFile };

// What stands in the way of reading a step's file whole (kNone: nothing).
enum class FileIssue { kNone, kMissing, kNotAFile, kUnmeasured, kTooLarge, kUnreadable };

// Which way a step's data travels now: the write, or the board's copy sent back to be compared
// (a write's read-back, or a read section).
enum class DataPhase { kNone, kWriting, kVerifying };

// One step of a run, worked out from its Section Record and the files it names.
struct PlanStep {
  StepSlot slot = StepSlot::kEnvironment;
  StepKind kind = StepKind::kEnvironment;
  std::size_t table_index = 0;   // the record's index in the Section Table
  config::SectionRecord record{};
  // The run sends this step. When not, `skip_reason` says why ("not configured", "Mem_type
  // nand is not spi or lpc", ...) and the run neither logs nor sends anything for it.
  bool used = false;
  std::string skip_reason;
  SkipReason skip = SkipReason::kNone;  // also kFile for a used image step that cannot be read
  std::uint8_t memory = transfer::kInvalidCode;  // Memory Type Code of the Command Header
  std::uint16_t command = transfer::kWrite;      // Command Code of the Command Header
  // The image file (or the environment description file), relative names taken from the
  // working directory; what stands in the way of reading it whole (empty: nothing), and its
  // size in bytes when it was planned.
  std::filesystem::path file;
  std::string file_problem;
  FileIssue file_issue = FileIssue::kNone;
  std::uint64_t size = 0;
  std::uint64_t capacity = 0;  // the most bytes the step can take from its file

  const char* name() const { return kStepNames[static_cast<std::size_t>(slot)]; }
};

// The ordered steps of one run: the environment, the kernel, uboot and filesystem sections,
// the diagnostic image. The run takes them in this order, each as its kind says.
struct RunPlan {
  std::vector<PlanStep> steps;

  // The step in `slot` (every plan has one for each slot).
  const PlanStep& step(StepSlot slot) const;
  // The size of the largest image the section steps will load (0 when none can be read).
  std::uint32_t largest_image() const;
};

// Turns the Section Table into the run's steps, looking at the files (never sending anything).
// A run's rules of which section it sends, and how, live here and nowhere else.
RunPlan make_plan(const config::SectionTable& table, const std::filesystem::path& dir);

// "<index> <Section Name> Filename=<text> Mem_Src_addr=0x<8 hex> Mem_Dst_addr=0x<8 hex>
// Mem_type=<text> Command=<text>", without a line end.
std::string format_section_record(std::size_t index, const config::SectionRecord& record);

// One line, without a line end, saying what a run does with the step: "<table index> <Section
// Name>: " then its memory type code, command code and file size, or "skipped, " and why.
std::string describe_step(const PlanStep& step);
// describe_step's text after its head and after "skipped, ": "memory type 1 (nand), command 1
// (write), 100 bytes from kernel.bin", or "not configured", "file kernel.bin missing", ...
std::string step_summary(const PlanStep& step);

}  // namespace skav::station

#include "core/config/section_report.h"

#include <cstdarg>
#include <cstdio>
#include <system_error>

#include "core/config/ini.h"
#include "core/transfer/command.h"
#include "core/transfer/image_download.h"

namespace skav::config {

namespace {

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

std::string format(const char* fmt, ...) {
  char buffer[512];
  va_list args;
  va_start(args, fmt);
  int n = std::vsnprintf(buffer, sizeof buffer, fmt, args);
  va_end(args);
  return n < 0 ? std::string() : std::string(buffer);
}

// Why the image file cannot be sent, or an empty text and its size.
std::string check_file(const std::filesystem::path& dir, const char* filename,
                       std::uintmax_t capacity, std::uintmax_t& size) {
  std::error_code ec;
  const std::filesystem::path path = dir / filename;
  auto status = std::filesystem::status(path, ec);
  if (!std::filesystem::exists(status)) return format("file %s missing", filename);
  if (!std::filesystem::is_regular_file(status)) return format("%s is not a file", filename);
  size = std::filesystem::file_size(path, ec);
  if (ec) return format("file %s cannot be measured", filename);
  if (size > capacity) {
    return format("file %s is larger than %ju bytes", filename,
                  static_cast<std::uintmax_t>(capacity));
  }
  return {};
}

// An image section whose file cannot be sent is skipped; the diagnostic image is started all
// the same, with 0 bytes (`send_empty`).
std::string image_plan(const std::string& head, const SectionRecord& record,
                       const std::filesystem::path& dir, std::uint8_t memory, std::uint8_t command,
                       const char* command_text, std::uintmax_t capacity, bool send_empty) {
  std::uintmax_t size = 0;
  std::string problem = check_file(dir, record.filename, capacity, size);
  const std::string exchange = format("memory type %u (%s), command %u (%s), ",
                                      static_cast<unsigned>(memory), record.mem_type,
                                      static_cast<unsigned>(command), command_text);
  if (problem.empty()) return head + exchange + format("%ju bytes from %s", size, record.filename);
  if (send_empty) return head + exchange + "0 bytes (" + problem + ")";
  return head + "skipped, " + problem;
}

}  // namespace

std::string format_section_record(std::size_t index, const SectionRecord& record) {
  return format("%zu %s Filename=%s Mem_Src_addr=0x%08X Mem_Dst_addr=0x%08X Mem_type=%s Command=%s",
                index, record.name, record.filename, static_cast<unsigned>(record.mem_src_addr),
                static_cast<unsigned>(record.mem_dst_addr), record.mem_type, record.command);
}

std::string describe_section_plan(std::size_t index, const SectionRecord& record,
                                  const std::filesystem::path& dir) {
  const std::string head = format("%zu %s: ", index, record.name);
  const std::uint8_t memory = transfer::memory_type_code(record.mem_type);
  const std::uint8_t command = transfer::command_code(record.command);
  const bool configured = !equals_ignore_case(record.filename, kMissing);

  if (equals_ignore_case(record.name, "uboot_cfg")) {
    if (memory != transfer::kSpi && memory != transfer::kLpc)
      return head + format("skipped, Mem_type %s is not spi or lpc", record.mem_type);
    std::string text = head + format("memory type %u (%s), command %u (write), environment image",
                                     static_cast<unsigned>(memory), record.mem_type,
                                     static_cast<unsigned>(transfer::kWrite));
    std::uintmax_t size = 0;
    std::string problem = check_file(dir, record.filename, UINTMAX_MAX, size);
    if (!problem.empty()) return text + ", ethaddr only: description " + problem;
    return text + format(" with the variables of %s (%ju bytes)", record.filename, size);
  }
  if (equals_ignore_case(record.name, "diag")) {
    if (!configured) return head + "skipped, not configured";
    if (memory != transfer::kMem)
      return head + format("skipped, Mem_type %s is not mem", record.mem_type);
    return image_plan(head, record, dir, memory, transfer::kExe, "exe", transfer::kDiagCapacity,
                      true);
  }
  if (!configured) return head + "skipped, not configured";
  if (memory != transfer::kNand && memory != transfer::kSpi && memory != transfer::kLpc)
    return head + format("skipped, Mem_type %s is not nand, spi or lpc", record.mem_type);
  if (command == transfer::kInvalidCode)
    return head + format("skipped, Command %s is not write, read or exe", record.command);
  return image_plan(head, record, dir, memory, command, record.command, transfer::kImageCapacity,
                    false);
}

}  // namespace skav::config

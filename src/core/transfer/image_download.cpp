#include "core/transfer/image_download.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <system_error>

namespace skav::transfer {

namespace {

namespace fs = std::filesystem;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

fs::path image_path(const fs::path& dir, const char* filename) {
  // operator/ keeps an absolute file name as it is.
  return dir / fs::path(filename);
}

bool is_missing(const char* text) { return strcasecmp(text, config::kMissing) == 0; }

// The size a buffer needs for this file: 0 when it cannot be measured or would be refused
// anyway, so that such a file never makes the walk ask for more memory.
std::uint32_t planned_size(const fs::path& dir, const char* filename, std::uint32_t capacity) {
  std::error_code error;
  std::uintmax_t size = fs::file_size(image_path(dir, filename), error);
  if (error || size > capacity) return 0;
  return static_cast<std::uint32_t>(size);
}

// A working buffer of a walk, or null when the memory cannot be had.
std::unique_ptr<std::uint8_t[]> obtain_buffer(std::uint32_t size) {
  return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[std::max(size, 1u)]);
}

// Passes the data phase's progress on under the section's name.
class SectionObserver : public ProgressObserver {
 public:
  SectionObserver(SectionProgress& target, const char* section)
      : target_(target), section_(section) {}
  void on_progress(std::uint64_t done, std::uint64_t total) override {
    target_.on_section_progress(section_, done, total);
  }

 private:
  SectionProgress& target_;
  const char* section_;
};

// Lends an observer to the channel for one section and takes it back at the end.
class ObserverScope {
 public:
  ObserverScope(Channel& channel, SectionProgress* progress, const char* section)
      : channel_(channel), saved_(channel.progress) {
    if (progress != nullptr) {
      observer_.emplace(*progress, section);
      channel_.progress = &*observer_;
    }
  }
  ~ObserverScope() { channel_.progress = saved_; }
  ObserverScope(const ObserverScope&) = delete;
  ObserverScope& operator=(const ObserverScope&) = delete;

 private:
  Channel& channel_;
  ProgressObserver* saved_;
  std::optional<SectionObserver> observer_;
};

// The verdict index of an image section, or -1 for any other name.
int image_section_index(const char* name) {
  if (strcasecmp(name, "kernel") == 0) return 0;
  if (strcasecmp(name, "uboot") == 0) return 1;
  if (strcasecmp(name, "filesystem") == 0) return 2;
  return -1;
}

// Builds the Command Header of an image section; false refuses the record (silently): another
// section, no file name, a memory type other than nand/spi/lpc, or no valid command.
bool build_section_header(const config::SectionRecord& record, CommandHeader& header) {
  if (image_section_index(record.name) < 0) return false;
  if (is_missing(record.filename)) return false;
  std::uint8_t memory = memory_type_code(record.mem_type);
  if (memory != kNand && memory != kSpi && memory != kLpc) return false;
  std::uint8_t command = command_code(record.command);
  if (command == kInvalidCode) return false;
  header = CommandHeader{};
  header.memory_type = memory;
  header.command = command;
  header.source = record.mem_src_addr;
  header.destination = record.mem_dst_addr;
  return true;
}

// "byte 2048:%x,2049:%x\r\n"; an offset beyond a short image shows "-", nothing is read there.
void log_yimg_bytes(Log* log, const std::uint8_t* image, std::uint32_t size) {
  char first[4] = "-";
  char second[4] = "-";
  if (size > 2048) std::snprintf(first, sizeof first, "%x", image[2048]);
  if (size > 2049) std::snprintf(second, sizeof second, "%x", image[2049]);
  log_sink(log, "byte 2048:%s,2049:%s\r\n", first, second);
}

}  // namespace

int load_image(const fs::path& dir, const char* filename, std::uint8_t* buffer,
               std::uint32_t capacity, std::uint32_t& size) {
  size = 0;
  File file(std::fopen(image_path(dir, filename).c_str(), "rb"));
  if (!file) return 0;
  struct stat info {};
  if (fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  if (info.st_size < 0 || static_cast<std::uintmax_t>(info.st_size) > capacity) return 0;
  auto length = static_cast<std::size_t>(info.st_size);
  if (length > 0 && std::fread(buffer, 1, length, file.get()) != length) return 0;
  size = static_cast<std::uint32_t>(length);
  return 1;
}

ExchangeResult read_back_compare(Channel& channel, CommandHeader write_header,
                                 const std::uint8_t* image) {
  write_header.command = kRead;
  bool equal = false;
  ExchangeResult result = command_exchange_compare(channel, write_header, image, equal);
  result.success = result.success && equal;
  return result;
}

SectionResults section_download(Log* log, Channel& channel, const config::SectionTable& table,
                                const fs::path& dir, SectionProgress* progress) {
  SectionResults results;
  CommandHeader header;

  // Size the buffer to the largest image that will be loaded, so that a walk of small images
  // does not claim 64 MiB.
  bool any = false;
  std::uint32_t capacity = 0;
  for (const config::SectionRecord& record : table) {
    if (!build_section_header(record, header)) continue;
    any = true;
    capacity = std::max(capacity, planned_size(dir, record.filename, kImageCapacity));
  }
  if (!any) return results;

  std::unique_ptr<std::uint8_t[]> image = obtain_buffer(capacity);
  if (!image) {
    log_sink(log, "Not enough memory for the image buffers (%u bytes)\r\n", capacity);
    for (const config::SectionRecord& record : table)
      if (build_section_header(record, header))
        results.verdicts[static_cast<std::size_t>(image_section_index(record.name))] =
            Verdict::kFail;
    return results;
  }

  for (const config::SectionRecord& record : table) {
    if (!build_section_header(record, header)) continue;
    Verdict& verdict = results.verdicts[static_cast<std::size_t>(image_section_index(record.name))];
    std::uint32_t size = 0;
    if (load_image(dir, record.filename, image.get(), capacity, size) == 0) {
      log_sink(log, "The file [%s] was not opened\r\n", record.filename);
      verdict = Verdict::kFail;
      continue;
    }
    header.length = size;
    log_sink(log, "Section begin: [%s]\r\n", record.name);
    if (std::strcmp(record.filename, "yimg.bin") == 0) log_yimg_bytes(log, image.get(), size);

    ExchangeResult result;
    {
      ObserverScope observed(channel, progress, record.name);
      if (header.command == kRead) {
        // Verify only: the board sends its copy of the region; nothing is written.
        result = read_back_compare(channel, header, image.get());
      } else {
        result = command_exchange(channel, header, image.get(), Direction::kSend);
        if (result.outcome == Outcome::kOk && header.command == kWrite)
          result = read_back_compare(channel, header, image.get());
      }
    }
    if (result.outcome != Outcome::kOk) {
      log_transfer_failure(log, channel, result.outcome);
      verdict = Verdict::kTimeout;
      results.outcome = result.outcome;
      if (progress != nullptr) progress->on_section_end();
      return results;
    }
    if (header.command == kExe) {
      verdict = Verdict::kPass;
    } else {
      log_sink(log, "%s", result.success ? "Success\r\n" : "Fail\r\n");
      verdict = result.success ? Verdict::kPass : Verdict::kFail;
    }
    if (progress != nullptr) progress->on_section_end();
  }
  return results;
}

DiagResult diagnostic_download(Log* log, Channel& channel, const config::SectionTable& table,
                               const fs::path& dir, SectionProgress* progress) {
  DiagResult result;
  const config::SectionRecord* diag = nullptr;
  for (const config::SectionRecord& record : table) {
    if (strcasecmp(record.name, "diag") == 0 && !is_missing(record.filename)) {
      diag = &record;
      break;
    }
  }
  if (diag == nullptr || memory_type_code(diag->mem_type) != kMem) return result;

  log_sink(log, "Find the diag..................");
  CommandHeader header;
  header.memory_type = kMem;
  header.command = kExe;  // whatever the record's Command says
  header.source = diag->mem_src_addr;
  header.destination = diag->mem_dst_addr;

  std::uint32_t capacity = planned_size(dir, diag->filename, kDiagCapacity);
  std::unique_ptr<std::uint8_t[]> image = obtain_buffer(capacity);
  if (!image) {
    log_sink(log, "Not enough memory for the diag image buffer (%u bytes)\r\n", capacity);
    result.verdict = Verdict::kFail;
    return result;
  }
  std::uint32_t size = 0;
  if (load_image(dir, diag->filename, image.get(), capacity, size) == 0)
    log_sink(log, "The file [%s] was not opened\r\n", diag->filename);
  // The exchange takes place all the same, with what was loaded (0 bytes after a failure).
  header.length = size;

  ExchangeResult exchange;
  {
    ObserverScope observed(channel, progress, diag->name);
    exchange = command_exchange(channel, header, image.get(), Direction::kSend);
  }
  if (exchange.outcome != Outcome::kOk) {
    log_transfer_failure(log, channel, exchange.outcome);
    result.outcome = exchange.outcome;
    result.verdict = Verdict::kTimeout;
  } else {
    log_sink(log, "%s", exchange.success ? "Success\r\n" : "Fail\r\n");
    result.started = 1;
    result.verdict = exchange.success ? Verdict::kPass : Verdict::kFail;
  }
  if (progress != nullptr) progress->on_section_end();
  return result;
}

}  // namespace skav::transfer

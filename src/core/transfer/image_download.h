#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

#include "core/config/section_table.h"
#include "core/log.h"
#include "core/transfer/command.h"
#include "core/transfer/verdict.h"

namespace skav::transfer {

inline constexpr std::uint32_t kImageCapacity = 67108860;  // Section Download buffer data area
inline constexpr std::uint32_t kDiagCapacity = 33554428;   // Diagnostic Download buffer data area

// Reads a whole image file (a relative name is taken from `dir`). Returns 1 when the whole file
// was read, 0 otherwise; `size` is the file's size when it could be measured, else 0. A file
// larger than `capacity` is refused (0) without reading.
int load_image(const std::filesystem::path& dir, const char* filename, std::uint8_t* buffer,
               std::uint32_t capacity, std::uint32_t& size);

// Which section is reported to a progress observer while its data travels.
class SectionProgress {
 public:
  virtual ~SectionProgress() = default;
  // `section` is the Section Name; done/total in bytes of the current block.
  virtual void on_section_progress(const char* section, std::uint64_t done,
                                   std::uint64_t total) = 0;
  virtual void on_section_end() = 0;
};

struct SectionResults {
  Outcome outcome = Outcome::kOk;  // anything else: the walk ended early
  std::array<Verdict, 3> verdicts{Verdict::kSkipped, Verdict::kSkipped, Verdict::kSkipped};
};

// Section Download: the kernel, uboot and filesystem sections in table order, each loaded,
// sent with its Command Header, and verified by read-back (write), or started (exe), or
// verified without writing (read). Relative file names are taken from `dir`.
SectionResults section_download(Log* log, Channel& channel, const config::SectionTable& table,
                                const std::filesystem::path& dir,
                                SectionProgress* progress = nullptr);

struct DiagResult {
  int started = 0;  // 1 when the diag exchange took place (the board now runs the image)
  Outcome outcome = Outcome::kOk;
  Verdict verdict = Verdict::kSkipped;
};

// Diagnostic Download: the first diag section with a file name and Mem_type "mem" is sent with
// Command Code 2 (exe).
DiagResult diagnostic_download(Log* log, Channel& channel, const config::SectionTable& table,
                               const std::filesystem::path& dir,
                               SectionProgress* progress = nullptr);

}  // namespace skav::transfer

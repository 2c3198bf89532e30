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
// was read, 0 otherwise; `size` is the number of bytes loaded: the file's size on success, 0 on
// any failure, so that no byte that was not read from the file is ever sent. A file larger than
// `capacity` (or anything but a regular file) is refused (0) without reading.
int load_image(const std::filesystem::path& dir, const char* filename, std::uint8_t* buffer,
               std::uint32_t capacity, std::uint32_t& size);

// Read-back Verification of a write whose exchange has just ended: sends `write_header` with
// Command Code 1 (read) and compares the board's copy of its length in bytes with `image`
// frame by frame as it arrives, with no read-back buffer. success: the Status Frame carried the
// Success Code and every byte came back equal (always true for length 0; a short frame is a
// difference). outcome: kOk unless the transfer failed.
ExchangeResult read_back_compare(Channel& channel, CommandHeader write_header,
                                 const std::uint8_t* image);

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
  // By section: kernel, uboot, filesystem. kSkipped not configured; kFail file not loaded,
  // failing status or differing read-back; kTimeout the transfer failed (the walk ended there).
  // An exe section passes once its exchange completed: its status is not examined.
  std::array<Verdict, 3> verdicts{Verdict::kSkipped, Verdict::kSkipped, Verdict::kSkipped};
};

// Section Download: the kernel, uboot and filesystem sections in table order, each loaded,
// sent with its Command Header, and verified by read-back (write), or started (exe), or
// verified without writing (read). Relative file names are taken from `dir`. The read-back is
// compared as it arrives, so the walk holds one image buffer, not two.
// A failed transfer logs "Fail\r\n" and why, and ends the walk with that outcome. The image
// buffer is sized to the largest configured file (at most kImageCapacity) and live for the
// walk only. `progress` sees each section's data phases; on_section_end follows every section
// whose "Section begin" was logged.
SectionResults section_download(Log* log, Channel& channel, const config::SectionTable& table,
                                const std::filesystem::path& dir,
                                SectionProgress* progress = nullptr);

struct DiagResult {
  int started = 0;  // 1 when the diag exchange took place (the board now runs the image)
  Outcome outcome = Outcome::kOk;
  Verdict verdict = Verdict::kSkipped;
};

// Diagnostic Download: the first diag section with a file name and Mem_type "mem" is sent with
// Command Code 2 (exe). started is 1 when its exchange completed, whatever the status; 0 when
// no such section exists (nothing logged or sent), its image buffer could not be had (logged,
// nothing sent), or the transfer failed ("Fail\r\n" and why are logged, outcome tells which).
DiagResult diagnostic_download(Log* log, Channel& channel, const config::SectionTable& table,
                               const std::filesystem::path& dir,
                               SectionProgress* progress = nullptr);

}  // namespace skav::transfer

#pragma once

#include <array>
#include <cstdint>
#include <filesystem>

namespace skav::config {

// Missing Marker: the text of every field whose key, section or file is absent.
inline constexpr const char* kMissing = "BADID";

enum SectionIndex { kKernel = 0, kUboot = 1, kFilesystem = 2, kDiag = 3, kUbootCfg = 4 };
inline constexpr std::array<const char*, 5> kSectionNames = {"kernel", "uboot", "filesystem",
                                                             "diag", "uboot_cfg"};

// One section of config.ini. Texts are zero-terminated and cut to their field's capacity.
struct SectionRecord {
  char name[16];
  char filename[128];
  std::uint32_t mem_src_addr;
  std::uint32_t mem_dst_addr;
  char mem_type[16];
  char command[16];
};

using SectionTable = std::array<SectionRecord, 5>;

// Reads the five records, in the fixed order kernel, uboot, filesystem, diag, uboot_cfg, from
// `path` (config.ini in the working directory by default). Absent file, section or key give
// "BADID" and 0xFFFFFFFF. Never fails, never logs; returns 1.
int read_section_table(SectionTable& table,
                       const std::filesystem::path& path = "config.ini");

}  // namespace skav::config

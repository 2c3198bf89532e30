#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "core/config/section_table.h"

namespace skav::config {

// "<index> <Section Name> Filename=<text> Mem_Src_addr=0x<8 hex> Mem_Dst_addr=0x<8 hex>
// Mem_type=<text> Command=<text>", without a line end.
std::string format_section_record(std::size_t index, const SectionRecord& record);

// One line, without a line end, saying what a production run would do with the record at
// `index`: its memory type code, command code and file size, or why it is skipped. Relative
// file names are taken from `dir`. Looks at the files only; sends nothing.
std::string describe_section_plan(std::size_t index, const SectionRecord& record,
                                  const std::filesystem::path& dir);

}  // namespace skav::config

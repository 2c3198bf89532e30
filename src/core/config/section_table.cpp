#include "core/config/section_table.h"

#include <cstring>

#include "core/config/ini.h"

namespace skav::config {

int read_section_table(SectionTable& table, const std::filesystem::path& path) {
  std::memset(static_cast<void*>(table.data()), 0, sizeof(SectionRecord) * table.size());
  const IniFile ini = IniFile::load(path);
  for (std::size_t i = 0; i < table.size(); ++i) {
    SectionRecord& record = table[i];
    const char* section = kSectionNames[i];
    std::memcpy(record.name, section, std::strlen(section));  // fixed names fit in 15
    ini.read_text(section, "Filename", kMissing, record.filename, sizeof record.filename);
    record.mem_src_addr = ini.read_int(section, "Mem_Src_addr", 0xFFFFFFFFu);
    record.mem_dst_addr = ini.read_int(section, "Mem_Dst_addr", 0xFFFFFFFFu);
    ini.read_text(section, "Mem_type", kMissing, record.mem_type, sizeof record.mem_type);
    ini.read_text(section, "Command", kMissing, record.command, sizeof record.command);
  }
  return 1;
}

}  // namespace skav::config

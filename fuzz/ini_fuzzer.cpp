// The INI reader and Read Section Table over arbitrary file content. The table read from the
// file must match what the reader gives for the same text, keep every text inside its field
// with a terminating zero, be the same on a second read, and not depend on the line ends. 8-bit
// text saved as UTF-16 (either byte order) must read as the same text.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/config/ini.h"
#include "core/config/section_table.h"
#include "fuzz_support.h"

namespace {

using skav::config::IniFile;
using skav::config::SectionRecord;
using skav::fuzz::check;

constexpr const char* kTextKeys[] = {"Filename", "Mem_type", "Command"};
constexpr const char* kNumberKeys[] = {"Mem_Src_addr", "Mem_Dst_addr"};

// The field as the reader fills it: zeros, then the value (or the Missing Marker) cut to
// capacity - 1 characters.
template <std::size_t N>
void check_text(const char (&field)[N], const IniFile& ini, const char* section, const char* key) {
  char expected[N] = {};
  const std::string* value = ini.find(section, key);
  std::string_view text = value != nullptr ? std::string_view(*value) : skav::config::kMissing;
  std::memcpy(expected, text.data(), text.size() < N ? text.size() : N - 1);
  check(std::memcmp(field, expected, N) == 0, "a text field holds its value, cut and terminated");
}

std::uint32_t expected_number(const IniFile& ini, const char* section, const char* key) {
  const std::string* value = ini.find(section, key);
  if (value == nullptr || value->empty()) return 0xFFFFFFFFu;
  return skav::config::parse_profile_int(*value);
}

// The characters of Windows-1252's bytes 0x80-0x9F; the five unassigned bytes stand for the
// control characters of their own number.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The text as a Windows editor saves it in UTF-16, with its byte-order mark.
std::string as_utf16(std::string_view text, bool big_endian) {
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : text) {
    auto b = static_cast<unsigned char>(c);
    char16_t unit = (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : b;
    char high = static_cast<char>(unit >> 8);
    char low = static_cast<char>(unit & 0xFF);
    out.push_back(big_endian ? high : low);
    out.push_back(big_endian ? low : high);
  }
  return out;
}

bool is_utf16(std::string_view text) {
  return text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF";
}

std::string with_crlf(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  static const std::filesystem::path path = skav::fuzz::scratch_dir() / "config.ini";
  skav::fuzz::write_file(path, text);

  skav::config::SectionTable table;
  std::memset(static_cast<void*>(table.data()), 0x5A, sizeof(SectionRecord) * table.size());
  check(skav::config::read_section_table(table, path) == 1, "Read Section Table returns 1");

  const IniFile ini = IniFile::parse(text);
  // Inserting CR bytes into UTF-16 would break its characters: line ends are compared on 8-bit
  // text, and 8-bit text (without a UTF-8 mark) with its UTF-16 forms.
  const IniFile crlf = IniFile::parse(is_utf16(text) ? std::string(text) : with_crlf(text));
  if (!is_utf16(text) && text.substr(0, 3) != "\xEF\xBB\xBF") {
    check(skav::config::profile_text(as_utf16(text, false)) == text &&
              skav::config::profile_text(as_utf16(text, true)) == text,
          "8-bit text saved as UTF-16 reads as the same text");
  }
  for (std::size_t i = 0; i < table.size(); ++i) {
    const SectionRecord& record = table[i];
    const char* section = skav::config::kSectionNames[i];
    char name[sizeof record.name] = {};
    std::memcpy(name, section, std::strlen(section));
    check(std::memcmp(record.name, name, sizeof name) == 0, "the Section Name is the fixed one");
    check_text(record.filename, ini, section, "Filename");
    check_text(record.mem_type, ini, section, "Mem_type");
    check_text(record.command, ini, section, "Command");
    check(record.mem_src_addr == expected_number(ini, section, "Mem_Src_addr"),
          "Mem_Src_addr is the value read as a number");
    check(record.mem_dst_addr == expected_number(ini, section, "Mem_Dst_addr"),
          "Mem_Dst_addr is the value read as a number");

    for (const char* key : kTextKeys) {
      const std::string* lf_value = ini.find(section, key);
      const std::string* crlf_value = crlf.find(section, key);
      check((lf_value == nullptr) == (crlf_value == nullptr) &&
                (lf_value == nullptr || *lf_value == *crlf_value),
            "CR LF and LF line ends read the same");
    }
    for (const char* key : kNumberKeys) {
      check(ini.read_int(section, key, 7) == crlf.read_int(section, key, 7),
            "CR LF and LF line ends read the same numbers");
    }
  }

  skav::config::SectionTable again;
  skav::config::read_section_table(again, path);
  check(std::memcmp(table.data(), again.data(), sizeof(SectionRecord) * table.size()) == 0,
        "two reads of the same file give byte-identical tables");
  return 0;
}

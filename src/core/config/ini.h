#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace skav::config {

// An INI file parsed once, read with the rules of the Windows private-profile reader:
// section and key names match without regard to letter case; blanks around keys and values
// are dropped; one matching pair of double or single quotes around a value is removed; a line
// whose first non-blank character is ';' is a comment; the first of duplicate sections (with
// all its keys) and the first of duplicate keys wins; CR LF and LF line ends both work.
class IniFile {
 public:
  // Parses the file at `path`. An absent or unreadable file, or one that is not a regular
  // file, gives an empty IniFile (every read returns its default).
  static IniFile load(const std::filesystem::path& path);
  // Parses INI text held in memory.
  static IniFile parse(std::string_view text);

  // The value of `key` in `section`, or nullptr when the section or key is absent.
  const std::string* find(std::string_view section, std::string_view key) const;

  // Copies the value (or `fallback` when absent) into `dest`, cut to `capacity` - 1
  // characters and zero-terminated. Returns the full length of the value before any cut, so
  // a result >= capacity means it was cut. Writes nothing when capacity is 0.
  std::size_t read_text(std::string_view section, std::string_view key, const char* fallback,
                        char* dest, std::size_t capacity) const;

  // The value as a 32-bit number (see parse_profile_int); `fallback` when the file, section
  // or key is absent or the value is empty.
  std::uint32_t read_int(std::string_view section, std::string_view key,
                         std::uint32_t fallback) const;

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  std::vector<Section> sections_;
};

// Reads a number as the private-profile reader does: an optional '+' or '-', then decimal
// digits, or hexadecimal digits after "0x"; stops at the first character that cannot continue
// the number (0 when none); wraps like a 32-bit unsigned value ("-1" gives 0xFFFFFFFF).
std::uint32_t parse_profile_int(std::string_view text);

// Whole-text comparison without regard to (ASCII) letter case.
bool equals_ignore_case(std::string_view a, std::string_view b);

}  // namespace skav::config

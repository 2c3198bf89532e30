#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace skav::config {

// An INI file parsed once, read as the Windows private-profile reader (GetPrivateProfileStringA,
// GetPrivateProfileIntA) reads it:
// - The file is 8-bit text, unless it starts with a byte-order mark: UTF-16 (FF FE or FE FF)
//   and UTF-8 (EF BB BF) text is turned into Windows-1252 first (see profile_text).
// - A line ends at CR, at LF, or at any run of them. Blanks are space, tab, CR, LF, VT, FF and
//   the byte 0x1A (the DOS end-of-file mark).
// - A section starts at a line "[name]": blanks inside the brackets are not part of the name,
//   and anything after the last ']' of the line is ignored. Lines before the first section
//   belong to no section.
// - An entry is a line "key=value": blanks around the key and around the value are dropped,
//   blanks inside them kept, and one matching pair of double or single quotes around the value
//   is removed. A line without '=' is not an entry. ';' is not special: ";k=v" is an entry
//   whose key begins with ';', so it never answers a lookup of an ordinary key.
// - A zero byte ends a name or a value (the platform keeps them as C strings).
// - Names match without regard to letter case (of Windows-1252 letters, so 0xC4 matches 0xE4); the
//   section and key asked for are trimmed of blanks first.
// - Of duplicate sections the first counts, with all its keys; of duplicate keys, the first.
class IniFile {
 public:
  // Parses the file at `path`. An absent or unreadable file, or one that is not a regular
  // file, gives an empty IniFile (every read returns its default).
  static IniFile load(const std::filesystem::path& path);
  // Parses a file's content held in memory (its bytes, with any byte-order mark).
  static IniFile parse(std::string_view bytes);

  // The value of `key` in `section`, or nullptr when the section or key is absent.
  const std::string* find(std::string_view section, std::string_view key) const;

  // Copies the value (or `fallback` without its trailing spaces, when absent) into `dest`, cut
  // to `capacity` - 1 characters and zero-terminated. Returns the full length of the value
  // before any cut, so a result >= capacity means it was cut. Writes nothing when capacity is 0.
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

// The 8-bit text that the reader parses, made from a file's bytes. After a byte-order mark,
// UTF-16 (little- or big-endian) and UTF-8 text becomes Windows-1252, the platform's ANSI code
// page, one byte per character: a character that the code page lacks, and a malformed sequence,
// becomes '?' (no "best fit" to a similar letter); a trailing odd byte of UTF-16 is dropped.
// Bytes without a byte-order mark are returned unchanged.
std::string profile_text(std::string_view bytes);

// Reads a number as the private-profile reader does: leading control characters and blanks
// skipped, an optional '+' or '-', then decimal digits, or after a lower-case prefix "0x"
// hexadecimal, "0o" octal or "0b" binary digits; stops at the first character that cannot
// continue the number (0 when none); wraps like a 32-bit unsigned value ("-1" gives 0xFFFFFFFF).
std::uint32_t parse_profile_int(std::string_view text);

// Whole-text comparison without regard to (ASCII) letter case.
bool equals_ignore_case(std::string_view a, std::string_view b);

}  // namespace skav::config

#include "core/config/ini.h"

#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "core/hex.h"

namespace skav::config {

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\x1A';
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

// The platform holds names and values as C strings: a zero byte ends them.
std::string_view c_string(std::string_view s) { return s.substr(0, s.find('\0')); }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Upper case of a Windows-1252 character: the ASCII letters, the accented letters 0xE0-0xFE
// (but 0xF7, the division sign), s with caron, oe and z with caron (0x9A, 0x9C, 0x9E) and y
// with diaeresis (0xFF). Other bytes are their own.
unsigned char fold_1252(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
    return static_cast<unsigned char>(c - 0x20);
  if (c == 0x9A || c == 0x9C || c == 0x9E) return static_cast<unsigned char>(c - 0x10);
  if (c == 0xFF) return 0x9F;
  return c;
}

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold_1252(static_cast<unsigned char>(a[i])) != fold_1252(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string_view strip_quotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

int digit_value(char c, std::uint32_t base) {
  int v = hex_value(c);
  return (v >= 0 && static_cast<std::uint32_t>(v) < base) ? v : -1;
}

// The characters of Windows-1252's bytes 0x80 to 0x9F. The five bytes the code page leaves
// unassigned stand for the control characters of the same number, as in the platform's own
// table, so that every byte has a character.
constexpr std::array<char32_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
constexpr char32_t kInvalid = 0xFFFFFFFF;

char to_1252(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (std::size_t i = 0; i < kCp1252High.size(); ++i) {
    if (kCp1252High[i] == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

std::string utf16_to_1252(std::string_view bytes, bool big_endian) {
  std::string out;
  out.reserve(bytes.size() / 2);
  auto unit = [&](std::size_t i) -> char32_t {
    auto b0 = static_cast<unsigned char>(bytes[2 * i]);
    auto b1 = static_cast<unsigned char>(bytes[2 * i + 1]);
    return big_endian ? (b0 << 8 | b1) : (b1 << 8 | b0);
  };
  const std::size_t units = bytes.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    char32_t c = unit(i);
    // A surrogate pair is one character (outside the code page); a lone surrogate is malformed.
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 &&
        unit(i + 1) <= 0xDFFF) {
      ++i;
      c = kInvalid;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kInvalid;
    }
    out.push_back(to_1252(c));
  }
  return out;
}

// One character of UTF-8 at `i`; a malformed sequence yields kInvalid for its first byte only.
char32_t next_utf8(std::string_view s, std::size_t& i) {
  auto byte = [&](std::size_t k) { return k < s.size() ? static_cast<unsigned char>(s[k]) : 0u; };
  const unsigned b0 = byte(i);
  unsigned count = 0;
  char32_t c = 0;
  unsigned low = 0x80;
  unsigned high = 0xBF;  // the allowed range of the second byte, which excludes overlong forms
  if (b0 < 0x80) {
    ++i;
    return b0;
  } else if (b0 >= 0xC2 && b0 <= 0xDF) {
    count = 1;
    c = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    count = 2;
    c = b0 & 0x0F;
    if (b0 == 0xE0) low = 0xA0;
    if (b0 == 0xED) high = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    count = 3;
    c = b0 & 0x07;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;
  } else {
    ++i;
    return kInvalid;
  }
  for (unsigned k = 1; k <= count; ++k) {
    const unsigned b = byte(i + k);
    if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF)) {
      ++i;
      return kInvalid;
    }
    c = c << 6 | (b & 0x3F);
  }
  i += count + 1;
  return c;
}

std::string utf8_to_1252(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) out.push_back(to_1252(next_utf8(bytes, i)));
  return out;
}

}  // namespace

bool equals_ignore_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string profile_text(std::string_view bytes) {
  if (bytes.substr(0, 2) == "\xFF\xFE") return utf16_to_1252(bytes.substr(2), false);
  if (bytes.substr(0, 2) == "\xFE\xFF") return utf16_to_1252(bytes.substr(2), true);
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return utf8_to_1252(bytes.substr(3));
  return std::string(bytes);
}

std::uint32_t parse_profile_int(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  std::uint32_t base = 10;
  // Only lower-case prefixes select another base, as on the platform this file format comes from.
  if (text.size() >= 2 && text[0] == '0') {
    base = text[1] == 'x' ? 16 : text[1] == 'o' ? 8 : text[1] == 'b' ? 2 : 10;
    if (base != 10) text.remove_prefix(2);
  }
  std::uint32_t value = 0;
  for (char c : text) {
    int d = digit_value(c, base);
    if (d < 0) break;
    value = value * base + static_cast<std::uint32_t>(d);  // wraps modulo 2^32
  }
  return negative ? 0u - value : value;
}

IniFile IniFile::load(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return IniFile{};
  std::ifstream in(path, std::ios::binary);
  if (!in) return IniFile{};
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return parse(bytes);
}

IniFile IniFile::parse(std::string_view bytes) {
  IniFile ini;
  const std::string content = profile_text(bytes);
  std::string_view text = content;

  Section* current = nullptr;  // null before the first section or inside a duplicate one
  while (!text.empty()) {
    std::size_t end = text.find_first_of("\r\n");
    std::string_view line = trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);

    if (line.empty()) continue;
    if (line.front() == '[') {
      std::size_t close = line.rfind(']');
      if (close != std::string_view::npos) {
        std::string_view name = c_string(trim(line.substr(1, close - 1)));
        current = nullptr;
        bool duplicate = false;
        for (const Section& s : ini.sections_) duplicate |= same_name(s.name, name);
        if (!duplicate) {
          ini.sections_.push_back(Section{std::string(name), {}});
          current = &ini.sections_.back();
        }
        continue;
      }
    }
    if (current == nullptr) continue;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = c_string(trim(line.substr(0, eq)));
    std::string_view value = strip_quotes(c_string(trim(line.substr(eq + 1))));
    bool duplicate = false;
    for (const Entry& e : current->entries) duplicate |= same_name(e.key, key);
    if (!duplicate) current->entries.push_back(Entry{std::string(key), std::string(value)});
  }
  return ini;
}

const std::string* IniFile::find(std::string_view section, std::string_view key) const {
  // The platform trims the names it is asked for, so " bootdelay " finds "bootdelay".
  section = trim(c_string(section));
  key = trim(c_string(key));
  for (const Section& s : sections_) {
    if (!same_name(s.name, section)) continue;
    for (const Entry& e : s.entries) {
      if (same_name(e.key, key)) return &e.value;
    }
    return nullptr;
  }
  return nullptr;
}

std::size_t IniFile::read_text(std::string_view section, std::string_view key, const char* fallback,
                               char* dest, std::size_t capacity) const {
  const std::string* value = find(section, key);
  std::string_view text;
  if (value != nullptr) {
    text = *value;
  } else {
    // The platform drops the default's trailing spaces.
    text = fallback;
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  }
  if (capacity == 0) return text.size();
  std::size_t n = text.size() < capacity ? text.size() : capacity - 1;
  std::memcpy(dest, text.data(), n);
  dest[n] = '\0';
  return text.size();
}

std::uint32_t IniFile::read_int(std::string_view section, std::string_view key,
                                std::uint32_t fallback) const {
  const std::string* value = find(section, key);
  if (value == nullptr || value->empty()) return fallback;
  return parse_profile_int(*value);
}

}  // namespace skav::config

#include "core/config/ini.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "core/hex.h"

namespace skav::config {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

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

}  // namespace

bool equals_ignore_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::uint32_t parse_profile_int(std::string_view text) {
  text = trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  std::uint32_t base = 10;
  // Only a lower-case "0x" selects hexadecimal, as on the platform this file format comes from.
  if (text.size() >= 2 && text[0] == '0' && text[1] == 'x') {
    base = 16;
    text.remove_prefix(2);
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
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return parse(text);
}

IniFile IniFile::parse(std::string_view text) {
  IniFile ini;
  // A UTF-8 byte-order mark (written by some Windows editors) is not part of the first line.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

  Section* current = nullptr;  // null before the first section or inside a duplicate one
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);

    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      std::size_t close = line.rfind(']');
      if (close != std::string_view::npos) {
        std::string_view name = line.substr(1, close - 1);
        current = nullptr;
        bool duplicate = false;
        for (const Section& s : ini.sections_) duplicate |= equals_ignore_case(s.name, name);
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
    std::string_view key = trim(line.substr(0, eq));
    std::string_view value = strip_quotes(trim(line.substr(eq + 1)));
    bool duplicate = false;
    for (const Entry& e : current->entries) duplicate |= equals_ignore_case(e.key, key);
    if (!duplicate) current->entries.push_back(Entry{std::string(key), std::string(value)});
  }
  return ini;
}

const std::string* IniFile::find(std::string_view section, std::string_view key) const {
  for (const Section& s : sections_) {
    if (!equals_ignore_case(s.name, section)) continue;
    for (const Entry& e : s.entries) {
      if (equals_ignore_case(e.key, key)) return &e.value;
    }
    return nullptr;
  }
  return nullptr;
}

std::size_t IniFile::read_text(std::string_view section, std::string_view key, const char* fallback,
                               char* dest, std::size_t capacity) const {
  const std::string* value = find(section, key);
  std::string_view text = value != nullptr ? std::string_view(*value) : std::string_view(fallback);
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

#include "core/config/environment.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "core/config/ini.h"
#include "core/hex.h"

namespace skav::config {

namespace {

constexpr std::uint32_t kCrcStart = 5;  // the CRC covers everything after itself and the flag
constexpr std::int32_t kVariableSlots = 64;
constexpr std::size_t kNameCapacity = 16;    // 15 characters and the terminating zero
constexpr std::size_t kValueCapacity = 256;  // 255 characters and the terminating zero
constexpr std::size_t kTemplateLength = 17;
constexpr std::array<std::size_t, 12> kTemplatePositions = {0, 1,  3,  4,  6,  7,
                                                            9, 10, 12, 13, 15, 16};

constexpr std::array<std::uint32_t, 256> make_crc_table() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = make_crc_table();

bool is_mac_variable(const char* name) {
  return equals_ignore_case(name, "MAC0") || equals_ignore_case(name, "MAC1") ||
         equals_ignore_case(name, "GMAC");
}

// Appends "name=value" and its terminating zero, then one uncounted zero byte that ends the
// list unless another entry follows. The slot sizes keep the list far below the image size;
// the check only guards the image against a change of those sizes.
void append_entry(EnvironmentImage& image, const char* name, const char* value) {
  std::size_t name_length = std::strlen(name);
  std::size_t value_length = std::strlen(value);
  std::size_t entry = name_length + 1 + value_length + 1;
  if (image.used_length + entry + 1 > kEnvironmentSize) return;
  std::uint8_t* p = image.bytes.data() + image.used_length;
  std::memcpy(p, name, name_length);
  p[name_length] = '=';
  std::memcpy(p + name_length + 1, value, value_length);
  p[entry - 1] = 0;
  p[entry] = 0;
  image.used_length += static_cast<std::uint32_t>(entry);
}

}  // namespace

std::uint32_t crc32(const std::uint8_t* data, std::size_t length) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < length; ++i) crc = (crc >> 8) ^ kCrcTable[(crc ^ data[i]) & 0xFFu];
  return ~crc;
}

std::uint32_t environment_crc(const std::uint8_t* data) {
  return crc32(data, kEnvironmentSize - kCrcStart);
}

void build_environment_image(Log* log, const SectionRecord& record, const MacDigits::Digits& digits,
                             const std::filesystem::path& dir, EnvironmentImage& image) {
  image.bytes.fill(0xFF);
  image.bytes[4] = 1;  // Active Flag
  image.used_length = kCrcStart;
  image.has_mac_variable = false;
  image.next_mac = digits;

  append_entry(image, "ethaddr", MacDigits::colon_text(digits).c_str());

  const IniFile file = IniFile::load(dir / record.filename);
  auto count = static_cast<std::int32_t>(file.read_int("variable", "var_no", 0));
  if (count > kVariableSlots) {
    log_sink(log, "var_no %d is more than %d: only variables 00 to %02d are read\r\n", count,
             kVariableSlots, kVariableSlots - 1);
    count = kVariableSlots;
  }

  bool wrapped = false;
  const MacDigits::Digits next = MacDigits::next(digits, &wrapped);
  for (std::int32_t j = 0; j < count; ++j) {
    char key[24];
    std::snprintf(key, sizeof key, "variable%02d", static_cast<int>(j));
    char name[kNameCapacity];
    std::size_t full = file.read_text("variable", key, kMissing, name, sizeof name);
    if (equals_ignore_case(name, kMissing)) continue;
    if (full >= sizeof name) {
      log_sink(log, "%s: variable name longer than %zu characters, cut to %s\r\n", key,
               sizeof name - 1, name);
    }
    char value[kValueCapacity];
    file.read_text("argument", name, kMissing, value, sizeof value);
    if (equals_ignore_case(value, kMissing)) continue;

    if (is_mac_variable(name)) {
      // Only positions that exist in the template receive digits; the entry keeps its length.
      std::size_t length = std::strlen(value);
      for (std::size_t i = 0; i < kTemplatePositions.size(); ++i) {
        if (kTemplatePositions[i] < length) value[kTemplatePositions[i]] = digits[i];
      }
      if (length < kTemplateLength) {
        log_sink(log,
                 "%s: template of %zu characters is shorter than %zu; the MAC address is cut\r\n",
                 name, length, kTemplateLength);
      }
      // Said once, at the first MAC variable.
      if (wrapped && !image.has_mac_variable) {
        log_sink(log, "MAC Addr : %.12s is the last address; the next one wraps to %.12s\r\n",
                 digits.data(), next.data());
      }
      image.next_mac = next;
      image.has_mac_variable = true;
    }
    append_entry(image, name, value);
  }

  // The list's closing zero is already in place after the last entry; count it.
  image.used_length += 1;
  std::uint32_t crc = environment_crc(image.bytes.data() + kCrcStart);
  for (std::size_t i = 0; i < 4; ++i) image.bytes[i] = static_cast<std::uint8_t>(crc >> (8 * i));
}

}  // namespace skav::config

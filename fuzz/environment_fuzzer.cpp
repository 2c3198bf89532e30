// The environment image builder over arbitrary MAC Digits (the input's first 12 bytes) and an
// arbitrary environment description file (the rest). Whatever the file holds, the image must be
// a well-formed environment: flag, entries of name=value ending in two zero bytes at the Used
// Length, 0xFF after it, and the CRC of bytes 5 to 65535 in front.

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "core/config/environment.h"
#include "core/config/ini.h"
#include "core/log.h"
#include "core/mac_digits.h"
#include "fuzz_support.h"

namespace {

using skav::config::EnvironmentImage;
using skav::config::kEnvironmentSize;
using skav::fuzz::check;

// 32 bytes of CRC, flag, ethaddr and list end; 64 variables of at most 15 + 1 + 255 + 1 bytes.
constexpr std::uint32_t kMaxUsedLength = 32 + 64 * 272;

bool is_upper_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 12) return 0;
  skav::MacDigits::Digits digits;
  std::memcpy(digits.data(), data, digits.size());
  std::string_view file(reinterpret_cast<const char*>(data + 12), size - 12);

  static const std::filesystem::path dir = skav::fuzz::scratch_dir();
  skav::fuzz::write_file(dir / "uboot_env.ini", file);
  skav::config::SectionRecord record{};
  std::strcpy(record.name, "uboot_cfg");
  std::strcpy(record.filename, "uboot_env.ini");
  std::strcpy(record.mem_type, "spi");

  static const auto image = std::make_unique<EnvironmentImage>();
  skav::StringLog log;
  skav::config::build_environment_image(&log, record, digits, dir, *image);

  const std::uint8_t* bytes = image->bytes.data();
  const std::uint32_t used = image->used_length;
  check(used >= 7 && used <= kMaxUsedLength, "the Used Length stays within the variable slots");
  check(bytes[4] == 1, "the Active Flag is 1");
  std::uint32_t crc = static_cast<std::uint32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
                                                 static_cast<std::uint32_t>(bytes[3]) << 24);
  check(crc == skav::config::environment_crc(bytes + 5), "the stored CRC covers bytes 5 to 65535");
  for (std::uint32_t i = used; i < kEnvironmentSize; ++i)
    check(bytes[i] == 0xFF, "every byte after the Used Length is 0xFF");

  // Entries: zero-terminated texts, each holding an equals sign, up to the empty one that ends
  // the list at the last counted byte.
  std::uint32_t pos = 5;
  int entries = 0;
  while (pos < used && bytes[pos] != 0) {
    const char* entry = reinterpret_cast<const char*>(bytes + pos);
    std::size_t length = ::strnlen(entry, used - pos);
    check(pos + length < used, "every entry ends with a zero byte inside the Used Length");
    check(std::memchr(entry, '=', length) != nullptr, "every entry is name=value");
    if (entries == 0) check(std::strncmp(entry, "ethaddr=", 8) == 0, "ethaddr comes first");
    ++entries;
    pos += static_cast<std::uint32_t>(length) + 1;
  }
  check(pos == used - 1 && bytes[pos] == 0, "the list ends with a zero byte at Used Length - 1");

  if (std::memchr(digits.data(), 0, digits.size()) == nullptr) {
    char ethaddr[27];
    std::snprintf(ethaddr, sizeof ethaddr, "ethaddr=%c%c:%c%c:%c%c:%c%c:%c%c:%c%c", digits[0],
                  digits[1], digits[2], digits[3], digits[4], digits[5], digits[6], digits[7],
                  digits[8], digits[9], digits[10], digits[11]);
    check(std::memcmp(bytes + 5, ethaddr, 26) == 0, "ethaddr holds the digits in pairs");
  }
  if (image->has_mac_variable) {
    for (char c : image->next_mac) check(is_upper_hex(c), "the Next MAC is 12 upper-case digits");
    check(image->next_mac == skav::config::next_mac(digits),
          "every MAC variable gets the same Next MAC");
    if (skav::MacDigits::all_hex(digits)) {
      std::string text(digits.data(), digits.size());
      std::string next(image->next_mac.data(), image->next_mac.size());
      std::uint64_t value = std::stoull(text, nullptr, 16);
      check(std::stoull(next, nullptr, 16) == ((value + 1) & 0xFFFFFFFFFFFFull),
            "the Next MAC is the address plus one, within 48 bits");
    }
  } else {
    check(image->next_mac == digits, "without a MAC variable the digits stay");
  }
  return 0;
}

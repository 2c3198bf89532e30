#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

#include "core/config/section_table.h"
#include "core/log.h"
#include "core/mac_digits.h"

namespace skav::config {

inline constexpr std::uint32_t kEnvironmentSize = 65536;

// CRC-32 of IEEE 802.3 and zlib (reflected 0xEDB88320, table-driven).
std::uint32_t crc32(const std::uint8_t* data, std::size_t length);
// The Environment CRC: crc32 over the 65531 bytes at `data` (offset 5 of the image).
std::uint32_t environment_crc(const std::uint8_t* data);

struct EnvironmentImage {
  std::array<std::uint8_t, kEnvironmentSize> bytes{};
  std::uint32_t used_length = 0;
  bool has_mac_variable = false;
  MacDigits::Digits next_mac{};  // the MAC Digits plus one, when has_mac_variable
};

// Builds the 65536-byte image for these MAC Digits from the description file that `record`
// names (relative to `dir`). Pure: sends nothing, stores nothing. Logs only warnings.
void build_environment_image(Log* log, const SectionRecord& record,
                             const MacDigits::Digits& digits, const std::filesystem::path& dir,
                             EnvironmentImage& image);

// The MAC Digits plus one (see MacDigits::next).
inline MacDigits::Digits next_mac(const MacDigits::Digits& digits) { return MacDigits::next(digits); }
inline MacDigits::Digits next_mac(const MacDigits::Digits& digits, bool& wrapped) {
  return MacDigits::next(digits, &wrapped);
}

}  // namespace skav::config

#include "core/link/mac.h"

#include <cstdio>

#include "core/hex.h"

namespace skav::link {

std::string format_mac(const Mac& mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                mac[3], mac[4], mac[5]);
  return text;
}

std::optional<Mac> parse_mac(std::string_view text) {
  Mac mac{};
  std::size_t pos = 0;
  bool separated = text.size() == 17;
  if (!separated && text.size() != 12) return std::nullopt;
  for (std::size_t i = 0; i < 6; ++i) {
    if (separated && i > 0) {
      char sep = text[pos++];
      if (sep != ':' && sep != '-') return std::nullopt;
    }
    int hi = hex_value(text[pos]);
    int lo = hex_value(text[pos + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    mac[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    pos += 2;
  }
  return mac;
}

}  // namespace skav::link

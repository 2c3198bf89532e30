#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace skav::link {

// A MAC address in wire order (first byte first on the wire).
using Mac = std::array<std::uint8_t, 6>;

// "02:00:00:00:00:01": six colon-separated pairs of lower-case hexadecimal digits.
std::string format_mac(const Mac& mac);
// Accepts six pairs separated by ':' or '-', or twelve digits without separators.
std::optional<Mac> parse_mac(std::string_view text);

}  // namespace skav::link

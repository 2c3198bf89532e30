#include "core/platform/utf8.h"

namespace skav::platform {

std::filesystem::path path_from_utf8(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string utf8_of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::size_t complete_utf8_size(std::string_view text) {
  // The last byte that is not a continuation byte, within a character's reach of the end.
  std::size_t lead = text.size();
  for (std::size_t back = 1; back <= 4 && back <= text.size(); ++back) {
    if ((static_cast<unsigned char>(text[text.size() - back]) & 0xC0) != 0x80) {
      lead = text.size() - back;
      break;
    }
  }
  if (lead == text.size()) return text.size();
  const auto byte = static_cast<unsigned char>(text[lead]);
  std::size_t needed = 1;
  if (byte >= 0xC2 && byte <= 0xDF) needed = 2;
  else if (byte >= 0xE0 && byte <= 0xEF) needed = 3;
  else if (byte >= 0xF0 && byte <= 0xF4) needed = 4;
  return text.size() - lead < needed ? lead : text.size();
}

}  // namespace skav::platform

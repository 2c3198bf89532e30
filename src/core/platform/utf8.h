#pragma once

// The one place where names cross between the station's own text, which is UTF-8 everywhere
// (options, config.ini, logs, records, messages), and the file system's encoding (bytes on
// POSIX, UTF-16 on Windows). Never build a path from a std::string directly: on Windows that
// goes through the ANSI code page and loses every name outside it.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace skav::platform {

// The path whose name is the UTF-8 text `text`.
std::filesystem::path path_from_utf8(std::string_view text);

// The UTF-8 text of `path`, for messages, logs and records.
std::string utf8_of(const std::filesystem::path& path);

// The size of `text` without a multi-byte character that its last bytes only begin, so that
// text arriving in pieces is decoded whole once the rest arrives. Bytes that cannot begin a
// character count as complete (they decode as the replacement character).
std::size_t complete_utf8_size(std::string_view text);

}  // namespace skav::platform

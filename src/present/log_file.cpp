#include "present/log_file.h"

#include <cerrno>
#include <cstring>

#include "core/platform/files.h"
#include "core/platform/utf8.h"
#include "present/log_document.h"

namespace skav::present {

std::string caption(std::string_view path) {
  const std::size_t slash = path.find_last_of("\\/");
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  return std::string(name) + " - " + kTitle;
}

OpenResult LogFile::open(const std::string& path) {
  OpenResult result;
  bool exists = false;
  const int error = platform::read_small_file(platform::path_from_utf8(path), LogDocument::kLimit, result.bytes, exists);
  if (error == EFBIG) {
    result.then = OpenResult::Then::kNewLog;
    result.message = "The file is too large to open.";
    result.bytes.clear();
    forget();
    return result;
  }
  if (error != 0 || !exists) {
    result.then = OpenResult::Then::kNothing;
    result.message = path + "\nThe file could not be opened: " + std::strerror(exists ? error : ENOENT) + ".";
    result.bytes.clear();
    return result;
  }
  result.then = OpenResult::Then::kShow;
  path_ = path;
  return result;
}

std::optional<std::string> LogFile::save(const std::string& path, std::string_view bytes) {
  // Written beside the file and renamed over it.
  if (const int error = platform::replace_file(platform::path_from_utf8(path), platform::path_from_utf8(path + ".tmp"), bytes); error != 0)
    return path + "\nThe log could not be saved: " + std::strerror(error) + ".";
  path_ = path;
  return std::nullopt;
}

}  // namespace skav::present

#include "core/log.h"

#include <cstdarg>
#include <cstdio>

namespace skav {

int log_sink(Log* log, const char* format, ...) {
  char buffer[kLogSinkBuffer];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return 0;
  std::size_t kept = static_cast<std::size_t>(n) < sizeof buffer ? static_cast<std::size_t>(n)
                                                                 : sizeof buffer - 1;
  if (log != nullptr) log->append(std::string_view(buffer, kept));
  return static_cast<int>(kept);
}

void StringLog::append(std::string_view text) {
  std::lock_guard lock(mutex_);
  text_.append(text);
}

void StringLog::erase_last() {
  std::lock_guard lock(mutex_);
  if (!text_.empty()) text_.pop_back();
}

std::string StringLog::text() const {
  std::lock_guard lock(mutex_);
  return text_;
}

void StringLog::clear() {
  std::lock_guard lock(mutex_);
  text_.clear();
}

}  // namespace skav

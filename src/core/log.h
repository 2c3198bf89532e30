#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

// The C99 printf of the C library; on Windows MinGW's own (__USE_MINGW_ANSI_STDIO), which
// knows %zu and %ju, unlike the system's.
#if defined(__MINGW32__)
#define SKAV_PRINTF gnu_printf
#else
#define SKAV_PRINTF printf
#endif

namespace skav {

// Where every progress and failure message of the station goes. The command line, the window
// and the tests each supply one. Implementations must accept calls from any thread.
class Log {
 public:
  virtual ~Log() = default;
  // Appends text at the very end of the log, exactly as given.
  virtual void append(std::string_view text) = 0;
  // Erases the last character of the log, if any (Backspace of the MAC entry).
  virtual void erase_last() = 0;
};

// The log sink: formats printf-style into a 1024-byte buffer (at most 1023 characters kept,
// the rest cut off) and appends the text to the log, adding nothing. Without a log it only
// formats. Returns the number of characters kept.
int log_sink(Log* log, const char* format, ...) __attribute__((format(SKAV_PRINTF, 2, 3)));

inline constexpr std::size_t kLogSinkBuffer = 1024;

// A log held in memory; thread-safe. Used by tests and by front ends that render it later.
class StringLog : public Log {
 public:
  void append(std::string_view text) override;
  void erase_last() override;
  std::string text() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

}  // namespace skav

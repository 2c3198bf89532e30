#pragma once

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "core/log.h"

namespace skav::cli {

// printf to `out`, UTF-8 text shown right on a Windows console too (app::write_text).
#ifdef __MINGW32__
__attribute__((format(gnu_printf, 2, 3)))
#else
__attribute__((format(printf, 2, 3)))
#endif
void print(std::FILE* out, const char* format, ...);

// Shows text from the board on a terminal without letting it act on the terminal: control
// characters other than CR, LF and TAB, and DEL, become visible escapes such as \x1b.
std::string escape_for_terminal(std::string_view text);

// The log on standard output, byte for byte as the log window would hold it, flushed after each
// append. Backspace of the MAC entry is written as "\b \b". On a terminal, board text is escaped.
class StdoutLog : public Log {
 public:
  explicit StdoutLog(std::FILE* out = stdout);
  void append(std::string_view text) override;
  void erase_last() override;
  // Called before every write, for a live line on the same terminal to give way to the log.
  // Set it before the log is used.
  void set_before_write(std::function<void()> before) { before_write_ = std::move(before); }

 private:
  std::function<void()> before_write_;
  std::mutex mutex_;
  std::FILE* out_;
  bool terminal_;
};

// Log messages of commands that print results on standard output: to standard error.
class StderrLog : public Log {
 public:
  void append(std::string_view text) override;
  void erase_last() override {}
};

}  // namespace skav::cli

#pragma once

#include <cstdio>
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

// The rows of one terminal that the log (standard output) and the lines beside it (standard
// error) share, so that neither writes over the other. The live line is drawn only on a row of
// its own: never while the log's row stands unfinished ("Find the UBOOT CONFIG file....."
// before its "Success"), and taken away before the log writes on. A line beside the log that
// comes while the log's row is unfinished starts a row of its own; the log's text of that row is
// then written again before the log goes on, so the row reads whole.
class SharedTerminal {
 public:
  // `out`: where the live line and the lines beside the log go.
  explicit SharedTerminal(std::FILE* out);
  // Writes the log's `text`, as the terminal is to show it, to `log`, and flushes it.
  void write_log(std::FILE* log, std::string_view text);
  // Draws `text` as the live line in place of the last one; empty takes the live line away.
  void show_live(std::string_view text);
  // Writes `text` and a line end on a row of its own.
  void write_line(std::string_view text);

 private:
  void clear_live_locked();
  std::mutex mutex_;
  std::FILE* out_;
  bool live_shown_ = false;
  std::string open_;     // the log's unfinished row as written (empty at a row's start)
  bool cut_ = false;     // the row was longer than is kept: it is not written again
  bool left_ = false;    // a line beside the log has taken the terminal off the log's row
};

// The log on standard output, byte for byte as the log window would hold it, flushed after each
// append. Backspace of the MAC entry is written as "\b \b". On a terminal, board text is escaped.
class StdoutLog : public Log {
 public:
  explicit StdoutLog(std::FILE* out = stdout);
  void append(std::string_view text) override;
  void erase_last() override;
  // Writes through `terminal`, which the lines beside the log share. Set it before the log is
  // used; it outlives the log's use.
  void share(SharedTerminal* terminal) { shared_ = terminal; }

 private:
  void write(std::string_view text);
  SharedTerminal* shared_ = nullptr;
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

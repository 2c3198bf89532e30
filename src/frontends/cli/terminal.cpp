#include "frontends/cli/terminal.h"

#include <cstdarg>

#include "app/platform.h"

#include <unistd.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace skav::cli {

void print(std::FILE* out, const char* format, ...) {
  char small[512];
  std::va_list arguments;
  va_start(arguments, format);
  std::va_list again;
  va_copy(again, arguments);
  const int length = std::vsnprintf(small, sizeof small, format, arguments);
  va_end(arguments);
  if (length < 0) {
    va_end(again);
    return;
  }
  if (static_cast<std::size_t>(length) < sizeof small) {
    va_end(again);
    app::write_text(out, std::string_view(small, static_cast<std::size_t>(length)));
    return;
  }
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, again);
  va_end(again);
  text.pop_back();
  app::write_text(out, text);
}

std::string escape_for_terminal(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\r' && c != '\n' && c != '\t') || byte == 0x7f) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xf];
    } else {
      out += c;
    }
  }
  return out;
}

StdoutLog::StdoutLog(std::FILE* out) : out_(out), terminal_(isatty(fileno(out)) == 1) {
#ifdef _WIN32
  _setmode(_fileno(out), _O_BINARY);  // the log's own "\r\n", not one with a CR added
#endif
}

void StdoutLog::write(std::string_view text) {
  if (shared_ != nullptr) {
    shared_->write_log(out_, text);
    return;
  }
  app::write_text(out_, text);
}

void StdoutLog::append(std::string_view text) {
  std::lock_guard lock(mutex_);
  if (terminal_) {
    write(escape_for_terminal(text));
  } else {
    write(text);
  }
}

void StdoutLog::erase_last() {
  std::lock_guard lock(mutex_);
  write("\b \b");
}

namespace {
// A row longer than this (a board's text without line ends) is not written a second time.
constexpr std::size_t kMostRepeated = 4096;
}  // namespace

SharedTerminal::SharedTerminal(std::FILE* out) : out_(out) {}

void SharedTerminal::clear_live_locked() {
  if (!live_shown_) return;
  std::fputs("\r\033[K", out_);
  std::fflush(out_);
  live_shown_ = false;
}

void SharedTerminal::write_log(std::FILE* log, std::string_view text) {
  std::lock_guard lock(mutex_);
  clear_live_locked();
  if (left_) {
    if (!cut_) app::write_text(log, open_);
    left_ = false;
  }
  app::write_text(log, text);
  // What stands on the log's row now: a backspace takes back the character before it.
  for (char c : text) {
    if (c == '\n') {
      open_.clear();
      cut_ = false;
    } else if (c == '\b') {
      if (!open_.empty()) open_.pop_back();
    } else if (open_.size() < kMostRepeated) {
      open_ += c;
    } else {
      cut_ = true;
    }
  }
}

void SharedTerminal::show_live(std::string_view text) {
  std::lock_guard lock(mutex_);
  if (text.empty() || (!open_.empty() && !left_)) {
    clear_live_locked();
    return;
  }
  std::fputs("\r", out_);
  app::write_text(out_, text);
  std::fputs("\033[K", out_);
  std::fflush(out_);
  live_shown_ = true;
}

void SharedTerminal::write_line(std::string_view text) {
  std::lock_guard lock(mutex_);
  clear_live_locked();
  if (!open_.empty() && !left_) {
    std::fputs("\n", out_);
    left_ = true;
  }
  app::write_text(out_, text);
  std::fputs("\n", out_);
  std::fflush(out_);
}

void StderrLog::append(std::string_view text) {
  app::write_text(stderr, text);
}

}  // namespace skav::cli

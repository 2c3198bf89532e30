#include "frontends/cli/terminal.h"

#include <unistd.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace skav::cli {

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
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
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
    if (!cut_) std::fwrite(open_.data(), 1, open_.size(), log);
    left_ = false;
  }
  std::fwrite(text.data(), 1, text.size(), log);
  std::fflush(log);
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
  std::fwrite(text.data(), 1, text.size(), out_);
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
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fputs("\n", out_);
  std::fflush(out_);
}

void StderrLog::append(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace skav::cli

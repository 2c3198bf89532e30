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

void StdoutLog::append(std::string_view text) {
  std::lock_guard lock(mutex_);
  if (before_write_) before_write_();
  if (terminal_) {
    std::string shown = escape_for_terminal(text);
    std::fwrite(shown.data(), 1, shown.size(), out_);
  } else {
    std::fwrite(text.data(), 1, text.size(), out_);
  }
  std::fflush(out_);
}

void StdoutLog::erase_last() {
  std::lock_guard lock(mutex_);
  if (before_write_) before_write_();
  std::fwrite("\b \b", 1, 3, out_);
  std::fflush(out_);
}

void StderrLog::append(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace skav::cli

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

void StdoutLog::append(std::string_view text) {
  std::lock_guard lock(mutex_);
  if (before_write_) before_write_();
  if (terminal_) {
    app::write_text(out_, escape_for_terminal(text));
  } else {
    app::write_text(out_, text);
  }
}

void StdoutLog::erase_last() {
  std::lock_guard lock(mutex_);
  if (before_write_) before_write_();
  std::fwrite("\b \b", 1, 3, out_);
  std::fflush(out_);
}

void StderrLog::append(std::string_view text) {
  app::write_text(stderr, text);
}

}  // namespace skav::cli

#include "frontends/cli/port_output.h"

#include <unistd.h>

#include "app/platform.h"
#include "core/platform/files.h"

namespace skav::cli {

PrefixedOutput::PrefixedOutput(std::FILE* out) : out_(out), terminal_(isatty(fileno(out)) == 1) {}

void PrefixedOutput::write(std::string_view text) {
  if (terminal_) {
    app::write_text(out_, escape_for_terminal(text));
  } else {
    app::write_text(out_, text);
  }
}

void PrefixedOutput::append(const std::string& port, std::string_view text) {
  std::lock_guard lock(mutex_);
  std::string& line = line_[port];
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view piece = text.substr(0, end == std::string_view::npos ? text.size() : end + 1);
    text.remove_prefix(piece.size());
    if (open_ != port) {
      if (open_) std::fwrite("\n", 1, 1, out_);
      std::string start = port + ": ";
      app::write_text(out_, start);
      write(line);
      open_ = port;
    }
    write(piece);
    if (piece.back() == '\n') {
      line.clear();
      open_.reset();
    } else {
      line += piece;
    }
  }
  std::fflush(out_);
}

void PrefixedOutput::erase_last(const std::string& port) {
  std::lock_guard lock(mutex_);
  std::string& line = line_[port];
  if (line.empty()) return;
  line.pop_back();
  if (open_ == port) {
    std::fwrite("\b \b", 1, 3, out_);
    std::fflush(out_);
  }
}

void PrefixedOutput::write_beside(std::FILE* other, std::string_view line) {
  std::lock_guard lock(mutex_);
  if (open_) {
    std::fwrite("\n", 1, 1, out_);
    std::fflush(out_);
    open_.reset();
  }
  app::write_text(other, line);
  std::fwrite("\n", 1, 1, other);
  std::fflush(other);
}

PortLog::PortLog(std::string port, const std::filesystem::path& file, PrefixedOutput& out)
    : port_(std::move(port)), file_(platform::open_file(file, "ab")), out_(out) {
  if (file_ != nullptr) file_log_ = std::make_unique<StdoutLog>(file_);
}

PortLog::~PortLog() {
  file_log_.reset();
  if (file_ != nullptr) std::fclose(file_);
}

void PortLog::append(std::string_view text) {
  if (file_log_) file_log_->append(text);
  out_.append(port_, text);
}

void PortLog::erase_last() {
  if (file_log_) file_log_->erase_last();
  out_.erase_last(port_);
}

}  // namespace skav::cli

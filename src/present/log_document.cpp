#include "present/log_document.h"

#include <algorithm>

namespace skav::present {

LogDocument::LogDocument(std::size_t limit, std::size_t slack, std::size_t width)
    : limit_(limit), slack_(std::min(slack, limit / 2)), width_(std::max<std::size_t>(width, 1)) {}

LogDocument::Change LogDocument::append(std::string_view text) {
  bytes_.append(text);
  std::string shown_text = display_text(text, column_);
  Change change = trim();
  change.shown = std::move(shown_text);
  return change;
}

LogDocument::Change LogDocument::assign(std::string_view text) {
  bytes_.assign(text);
  Change change = trim();
  column_ = column_of_last_line();
  return change;
}

void LogDocument::clear() {
  bytes_.clear();
  column_ = 0;
}

std::string LogDocument::erase_last() {
  if (bytes_.empty()) return {};
  std::size_t n = 1;
  if (bytes_.size() >= 2 && bytes_[bytes_.size() - 1] == '\n' && bytes_[bytes_.size() - 2] == '\r')
    n = 2;
  std::string removed = bytes_.substr(bytes_.size() - n);
  bytes_.resize(bytes_.size() - n);
  if (removed.back() == '\n') {
    column_ = column_of_last_line();
  } else if (shown(removed.back())) {
    --column_;
  }
  return removed;
}

LogDocument::Change LogDocument::trim() {
  Change change;
  if (bytes_.size() <= limit_) return change;
  // Drop at least this much so the log ends up `slack_` below its limit.
  std::size_t need = bytes_.size() - (limit_ - slack_);
  std::size_t cut = need;
  std::size_t newline = bytes_.find('\n', need - 1);
  // Never drop the newest line itself: a line longer than the room is cut at its front.
  if (newline != std::string::npos && newline + 1 < bytes_.size()) {
    cut = newline + 1;
    change.trimmed_blocks = blocks_of(std::string_view(bytes_).substr(0, cut));
  } else {
    change.cut_mid_line = true;
  }
  change.trimmed_bytes = cut;
  bytes_.erase(0, cut);
  if (change.cut_mid_line) column_ = column_of_last_line();
  return change;
}

std::size_t LogDocument::blocks_of(std::string_view bytes) const {
  // Whole lines: one block each, and one more for every full piece beyond the first.
  std::size_t blocks = 0;
  std::size_t column = 0;
  for (char c : bytes) {
    if (c == '\n') {
      blocks += column == 0 ? 1 : (column + width_ - 1) / width_;
      column = 0;
    } else if (shown(c)) {
      ++column;
    }
  }
  return blocks;
}

std::size_t LogDocument::column_of_last_line() const {
  std::size_t start = bytes_.rfind('\n');
  start = start == std::string::npos ? 0 : start + 1;
  return static_cast<std::size_t>(
      std::count_if(bytes_.begin() + static_cast<std::ptrdiff_t>(start), bytes_.end(), shown));
}

bool LogDocument::shown(char byte) {
  auto b = static_cast<unsigned char>(byte);
  return b >= 0x20 || byte == '\n' || byte == '\t';
}

std::string LogDocument::display_text(std::string_view bytes, std::size_t& column) const {
  std::string text;
  text.reserve(bytes.size() + bytes.size() / width_ + 1);
  for (char c : bytes) {
    if (c == '\n') {
      text.push_back('\n');
      column = 0;
    } else if (shown(c)) {
      if (column > 0 && column % width_ == 0) text.push_back('\n');
      text.push_back(c);
      ++column;
    }
  }
  return text;
}

std::string LogDocument::display_text() const {
  std::size_t column = 0;
  return display_text(bytes_, column);
}

}  // namespace skav::present

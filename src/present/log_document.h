#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace skav::present {

// The log's bytes exactly as the station appended them ("\r\n" line ends included), bounded
// to kLimit bytes, and the rules by which a view shows them. Not thread-safe: the window's
// thread owns it.
class LogDocument {
 public:
  static constexpr std::size_t kLimit = 1048575;
  // When the limit is passed, the oldest lines are dropped until this much room is free again,
  // so that trimming happens once per batch of text and not on every append.
  static constexpr std::size_t kTrimSlack = 64 * 1024;
  // A view shows a longer line in pieces of this many characters: laying out one huge line
  // again on every append would stall the window.
  static constexpr std::size_t kShownWidth = 4096;

  // What an operation did to the start of the log, for a view that mirrors it.
  struct Change {
    std::size_t trimmed_bytes = 0;   // bytes dropped from the front
    std::size_t trimmed_blocks = 0;  // view lines (pieces included) those bytes made
    bool cut_mid_line = false;       // the cut did not end just after a '\n': show it anew
    std::string shown;               // append(): the view's text for the appended bytes
  };

  explicit LogDocument(std::size_t limit = kLimit, std::size_t slack = kTrimSlack,
                       std::size_t width = kShownWidth);

  // Appends `text` at the end; past the limit, the oldest whole lines are then dropped so the
  // newest text always stays. A single line longer than the room is cut at its front.
  Change append(std::string_view text);
  // Removes the last character; "\r\n" counts as one. Returns the bytes removed (none when
  // the log is empty).
  std::string erase_last();
  // Replaces everything; text beyond the limit at the front is dropped as by append().
  Change assign(std::string_view text);
  void clear();

  const std::string& bytes() const { return bytes_; }
  std::size_t size() const { return bytes_.size(); }

  // Whether a byte is shown: '\n' ends a line, carriage returns and the other control
  // characters except tab show nothing; everything else shows as its Latin-1 character.
  static bool shown(char byte);
  // The view's text for `bytes` appended after a last line that already shows `column`
  // characters; `column` is updated. A line is broken before every kShownWidth-th character.
  std::string display_text(std::string_view bytes, std::size_t& column) const;
  // The view's text of the whole log.
  std::string display_text() const;
  // Characters the last line shows.
  std::size_t column() const { return column_; }
  std::size_t width() const { return width_; }

 private:
  Change trim();
  std::size_t blocks_of(std::string_view bytes) const;
  std::size_t column_of_last_line() const;

  std::size_t limit_;
  std::size_t slack_;
  std::size_t width_;
  std::string bytes_;
  std::size_t column_ = 0;
};

}  // namespace skav::present

#include "support/screen.h"

namespace skav::test {

std::vector<std::string> screen_rows(std::string_view bytes) {
  std::vector<std::string> rows(1);
  std::size_t row = 0;
  std::size_t column = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (c == '\r') {
      column = 0;
    } else if (c == '\n') {
      column = 0;
      if (++row == rows.size()) rows.emplace_back();
    } else if (c == '\b') {
      if (column > 0) --column;
    } else if (c == '\033' && bytes.substr(i, 3) == "\033[K") {
      if (column < rows[row].size()) rows[row].resize(column);
      i += 2;
    } else {
      std::string& text = rows[row];
      if (column < text.size()) {
        text[column] = c;
      } else {
        text.append(column - text.size(), ' ');
        text += c;
      }
      ++column;
    }
  }
  // A last row that nothing was written on is the cursor's, not a row shown.
  if (rows.back().empty()) rows.pop_back();
  return rows;
}

}  // namespace skav::test

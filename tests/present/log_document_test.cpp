// The log's bytes as every window keeps them: trimming at the limit, erasing the last
// character, and the pieces a view shows a long line in.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "present/log_document.h"

namespace skav::present {
namespace {

TEST(LogDocument, DisplayTextDropsCarriageReturnsAndBreaksLongLines) {
  struct Case {
    const char* name;
    std::string bytes;
    std::size_t column_before;
    std::string shown;
    std::size_t column_after;
  };
  const std::vector<Case> cases = {
      {"line ends once", "ab\r\ncd\r\n", 0, "ab\ncd\n", 0},
      {"control bytes show nothing, tab shows", "a\x01\tb\r", 0, "a\tb", 3},
      {"pieces of four", "abcdefghi\r\n\r\nxy", 0, "abcd\nefgh\ni\n\nxy", 2},
      {"continues a started line", "xyz", 3, "x\nyz", 6},
      {"a piece ends exactly at the line's end", "abcd\r\n", 0, "abcd\n", 0},
  };
  LogDocument document(20, 5, 4);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::size_t column = c.column_before;
    EXPECT_EQ(document.display_text(c.bytes, column), c.shown);
    EXPECT_EQ(column, c.column_after);
  }
}

TEST(LogDocument, EraseLastTakesALineEndAsOneCharacter) {
  struct Case {
    std::string bytes;
    std::string removed;
    std::string left;
    std::size_t column;
  };
  const std::vector<Case> cases = {
      {"ab\r\n", "\r\n", "ab", 2},
      {"a\nb\r", "\r", "a\nb", 1},
      {"a\nb", "b", "a\n", 0},
      {"a\n", "\n", "a", 1},
      {"x", "x", "", 0},
      {"", "", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    LogDocument document;
    document.append(c.bytes);
    EXPECT_EQ(document.erase_last(), c.removed);
    EXPECT_EQ(document.bytes(), c.left);
    EXPECT_EQ(document.column(), c.column);
  }
}

TEST(LogDocument, TrimsWholeOldLinesAndCountsTheirPieces) {
  LogDocument document(20, 5, 4);
  LogDocument::Change change = document.append("abcdefghi\r\n");  // 3 view lines
  EXPECT_EQ(change.trimmed_bytes, 0u);
  EXPECT_EQ(change.shown, "abcd\nefgh\ni\n");
  document.append("\r\n");  // 1 view line
  change = document.append("12345678");
  // 21 bytes: the oldest whole lines go until at most 15 remain; the first line is enough.
  EXPECT_EQ(change.trimmed_bytes, 11u);
  EXPECT_EQ(change.trimmed_blocks, 3u);
  EXPECT_FALSE(change.cut_mid_line);
  EXPECT_EQ(document.bytes(), "\r\n12345678");
  EXPECT_EQ(document.column(), 8u);

  // No line end left to cut at: the newest line loses its front.
  change = document.append("9012345678901234");
  EXPECT_TRUE(change.cut_mid_line);
  EXPECT_EQ(document.bytes(), std::string("\r\n123456789012345678901234").substr(11));
  EXPECT_EQ(document.column(), 15u);
}

TEST(LogDocument, AtTheRealLimitKeepsTheNewestLinesAndStartsAtALine) {
  LogDocument document;
  std::string last;
  for (int n = 0; n < 30000;) {
    std::string batch;
    for (int k = 0; k < 17; ++k, ++n) {
      last = "line " + std::to_string(n) + " " + std::string(static_cast<std::size_t>(n % 97), '.') + "\r\n";
      batch += last;
    }
    document.append(batch);
    ASSERT_LE(document.size(), LogDocument::kLimit);
  }
  EXPECT_GT(document.size(), LogDocument::kLimit - LogDocument::kTrimSlack - 2000);
  EXPECT_TRUE(document.bytes().ends_with(last));
  EXPECT_EQ(document.bytes().rfind("line ", 0), 0u);
}

TEST(LogDocument, AssignDropsTheFrontBeyondTheLimitAndClearEmpties) {
  LogDocument document(20, 5, 4);
  // 26 bytes: at least 11 must go, and the cut falls after the line end that follows them.
  document.assign("old line\r\nnewer line\r\nlast");
  EXPECT_EQ(document.bytes(), "last");
  EXPECT_EQ(document.column(), 4u);
  document.clear();
  EXPECT_EQ(document.size(), 0u);
  EXPECT_EQ(document.column(), 0u);
}

}  // namespace
}  // namespace skav::present

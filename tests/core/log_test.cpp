#include "core/log.h"

#include <gtest/gtest.h>

#include <string>

namespace skav {
namespace {

TEST(LogSink, AppendsExactlyWhatWasFormattedWithoutSeparators) {
  StringLog log;
  log_sink(&log, "abc");
  log_sink(&log, "def\r\n");
  log_sink(&log, "%s:%c:%x:%02d\r\n", "s", 'c', 0xab, 7);
  EXPECT_EQ(log.text(), "abcdef\r\ns:c:ab:07\r\n");
}

TEST(LogSink, WithoutALogOnlyFormats) {
  EXPECT_EQ(log_sink(nullptr, "%02d", 5), 2);
}

TEST(LogSink, CutsAt1023Characters) {
  StringLog log;
  std::string big(3000, 'x');
  EXPECT_EQ(log_sink(&log, "%s", big.c_str()), 1023);
  EXPECT_EQ(log.text(), std::string(1023, 'x'));
}

TEST(StringLog, EraseLastRemovesOneCharacterAndToleratesEmpty) {
  StringLog log;
  log.erase_last();
  log.append("ab");
  log.erase_last();
  EXPECT_EQ(log.text(), "a");
}

}  // namespace
}  // namespace skav

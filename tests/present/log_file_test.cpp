// New, Open and Save of the log's file: which file is the log's, what is shown, what the
// operator is told, and when the station's start-up runs again.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "present/log_document.h"
#include "present/log_file.h"
#include "support/temp_dir.h"

namespace skav::present {
namespace {

TEST(LogFile, TheCaptionNamesTheFileWithoutItsFolder) {
  struct Case {
    std::string path;
    std::string caption;
  };
  for (const Case& c : std::vector<Case>{{"", " - SKAV"},
                                         {"shift.log", "shift.log - SKAV"},
                                         {"/var/log/line 3/shift.log", "shift.log - SKAV"},
                                         {"C:\\logs\\shift.log", "shift.log - SKAV"},
                                         {"D:/logs\\mixed/a.txt", "a.txt - SKAV"}}) {
    EXPECT_EQ(caption(c.path), c.caption) << c.path;
  }
}

class LogFileTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
  LogFile file_;
};

TEST_F(LogFileTest, SaveThenOpenGivesTheSameBytesAndTheFileBecomesTheLogs) {
  EXPECT_TRUE(file_.needs_name());
  const std::string bytes("line\r\n\x01\x00 tail\r", 14);
  const std::string path = (dir_ / "shift.log").string();
  EXPECT_EQ(file_.save(path, bytes), std::nullopt);
  EXPECT_EQ(file_.path(), path);
  EXPECT_FALSE(file_.needs_name());
  EXPECT_EQ(file_.caption(), "shift.log - SKAV");
  EXPECT_EQ(test::read_file(path), bytes);

  LogFile other;
  OpenResult opened = other.open(path);
  EXPECT_EQ(opened.then, OpenResult::Then::kShow);
  EXPECT_EQ(opened.bytes, bytes);
  EXPECT_TRUE(opened.message.empty());
  EXPECT_EQ(other.path(), path);

  other.forget();
  EXPECT_TRUE(other.needs_name());
  EXPECT_EQ(other.caption(), " - SKAV");
}

TEST_F(LogFileTest, OpenAtTheLimitShowsAndBeyondItGivesANewLog) {
  const std::string at_limit = dir_.write("full.log", std::string(LogDocument::kLimit, 'x')).string();
  EXPECT_EQ(file_.open(at_limit).then, OpenResult::Then::kShow);
  EXPECT_EQ(file_.path(), at_limit);

  const std::string over = dir_.write("over.log", std::string(LogDocument::kLimit + 1, 'x')).string();
  OpenResult opened = file_.open(over);
  EXPECT_EQ(opened.then, OpenResult::Then::kNewLog);
  EXPECT_EQ(opened.message, "The file is too large to open.");
  EXPECT_TRUE(opened.bytes.empty());
  EXPECT_TRUE(file_.needs_name());  // the new log has no file
}

TEST_F(LogFileTest, FailuresTellTheOperatorAndLeaveTheLogsFile) {
  const std::string kept = dir_.write("kept.log", "old").string();
  ASSERT_EQ(file_.open(kept).then, OpenResult::Then::kShow);

  const std::string missing = (dir_ / "missing.log").string();
  OpenResult opened = file_.open(missing);
  EXPECT_EQ(opened.then, OpenResult::Then::kNothing);
  EXPECT_EQ(opened.message, missing + "\nThe file could not be opened: " + std::strerror(ENOENT) + ".");
  EXPECT_EQ(file_.path(), kept);

  const std::string folder = dir_.path().string();
  opened = file_.open(folder);
  EXPECT_EQ(opened.then, OpenResult::Then::kNothing);
  EXPECT_EQ(opened.message.rfind(folder + "\nThe file could not be opened: ", 0), 0u);

  const std::string nowhere = (dir_ / "no such folder" / "a.log").string();
  std::optional<std::string> error = file_.save(nowhere, "text");
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->rfind(nowhere + "\nThe log could not be saved: ", 0), 0u);
  EXPECT_TRUE(error->ends_with("."));
  EXPECT_EQ(file_.path(), kept);
}

}  // namespace
}  // namespace skav::present

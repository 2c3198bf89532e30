// Names outside every ANSI code page survive the trip from UTF-8 text to a path, into the file
// system and back, on each platform.

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "core/platform/files.h"
#include "core/platform/utf8.h"
#include "support/temp_dir.h"

namespace skav::platform {
namespace {

TEST(Utf8Paths, ANameComesBackAsTheSameBytes) {
  for (const char* name : {"config.ini", "工厂 Ω", "Ελληνικά/子目录/x.bin", "ä ö ü ß", ""}) {
    EXPECT_EQ(utf8_of(path_from_utf8(name)), std::string(name)) << name;
  }
}

TEST(Utf8Paths, AFolderNamedInChineseAndGreekHoldsFilesUnderThatName) {
  test::TempDir dir;
  const std::filesystem::path folder = dir.path() / path_from_utf8("工厂 Ω");
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  ASSERT_EQ(replace_file(folder / path_from_utf8("记录.csv"), folder / "tmp", "a,b\n"), 0);
  std::string text;
  bool exists = false;
  ASSERT_EQ(read_small_file(dir.path() / path_from_utf8("工厂 Ω/记录.csv"), 100, text, exists), 0);
  EXPECT_TRUE(exists);
  EXPECT_EQ(text, "a,b\n");
  // The system lists the file under the name given, in the same bytes.
  bool listed = false;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    listed = listed || utf8_of(entry.path().filename()) == "记录.csv";
  EXPECT_TRUE(listed);
}

// A log shown as it arrives decodes each piece: a character split between two pieces must wait
// for its rest, and nothing else may be held back.
TEST(CompleteUtf8Size, HoldsBackOnlyACharacterThatTheLastBytesBegin) {
  const struct {
    std::string text;
    std::size_t complete;
  } cases[] = {
      {"", 0},
      {"abc", 3},
      {"x\xCE", 1},                  // Ω's first byte
      {"x\xCE\xA9", 3},              // Ω whole
      {"\xE5", 0},                   // 工 begun
      {"a\xE5\xB7", 1},              // 工 two bytes of three
      {"a\xE5\xB7\xA5", 4},          // 工 whole
      {"\xF0\x9F\x98", 0},           // a four-byte character short of one
      {"\xF0\x9F\x98\x80", 4},
      {"a\xA9", 2},                  // a lone continuation byte never completes: shown now
      {"a\x80\x80\x80\x80", 5},      // continuation bytes beyond any character's reach
      {"a\xC0", 2},                  // cannot begin a character
      {"a\xFF", 2},
      {"\xCE\xA9\xE5\xB7", 2},        // Ω, then 工 begun
      {"\r\n", 2},
  };
  for (const auto& c : cases) EXPECT_EQ(complete_utf8_size(c.text), c.complete) << testing::PrintToString(c.text);
}

}  // namespace
}  // namespace skav::platform

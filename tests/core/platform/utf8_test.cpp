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

}  // namespace
}  // namespace skav::platform

#include "core/config/ini.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/temp_dir.h"

namespace skav::config {
namespace {

std::string ini_text(const IniFile& ini, const char* section, const char* key,
                    const char* fallback = "DEF") {
  char buffer[64];
  ini.read_text(section, key, fallback, buffer, sizeof buffer);
  return buffer;
}

TEST(IniNames, SectionAndKeyNamesMatchWithoutRegardToCase) {
  IniFile ini = IniFile::parse("[KERNEL]\nFILENAME=zImage\n[Diag]\nmem_TYPE=mem\n");
  EXPECT_EQ(ini_text(ini, "kernel", "Filename"), "zImage");
  EXPECT_EQ(ini_text(ini, "DIAG", "Mem_type"), "mem");
  EXPECT_EQ(ini_text(ini, "kernel", "Mem_type"), "DEF");
}

TEST(IniNames, BlanksAroundKeysAndValuesAreDroppedButNotInside) {
  IniFile ini = IniFile::parse("  [kernel]  \n  Filename \t=  my image.bin \t \n");
  EXPECT_EQ(ini_text(ini, "kernel", "Filename"), "my image.bin");
}

TEST(IniValues, OneMatchingPairOfQuotesIsRemoved) {
  IniFile ini = IniFile::parse(
      "[s]\n"
      "a=\"quoted value\"\n"
      "b='single'\n"
      "c=\"mismatched'\n"
      "d=\"\"\n"
      "e=\"\"twice\"\"\n"
      "f=\"\n"
      "g=  \" keep inner blanks \"  \n");
  EXPECT_EQ(ini_text(ini, "s", "a"), "quoted value");
  EXPECT_EQ(ini_text(ini, "s", "b"), "single");
  EXPECT_EQ(ini_text(ini, "s", "c"), "\"mismatched'");
  EXPECT_EQ(ini_text(ini, "s", "d"), "");
  EXPECT_EQ(ini_text(ini, "s", "e"), "\"twice\"");
  EXPECT_EQ(ini_text(ini, "s", "f"), "\"");
  EXPECT_EQ(ini_text(ini, "s", "g"), " keep inner blanks ");
}

TEST(IniValues, EmptyValueReadsAsEmptyTextAndAsTheDefaultNumber) {
  IniFile ini = IniFile::parse("[s]\nempty=\nquoted=''\n");
  EXPECT_EQ(ini_text(ini, "s", "empty"), "");
  EXPECT_EQ(ini.read_int("s", "empty", 77), 77u);
  EXPECT_EQ(ini.read_int("s", "quoted", 78), 78u);
}

TEST(IniValues, OverLongValueIsCutToTheCapacityAndNeverWrittenBeyond) {
  IniFile ini = IniFile::parse("[s]\nk=ABCDEFGHIJ\n");
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(ini.read_text("s", "k", "x", buffer, 5), 10u);  // full length tells about the cut
  EXPECT_STREQ(buffer, "ABCD");
  EXPECT_EQ(buffer[5], '#');
  EXPECT_EQ(ini.read_text("s", "k", "x", buffer, 0), 10u);
  EXPECT_STREQ(buffer, "ABCD");  // capacity 0 writes nothing
}

TEST(IniSyntax, CommentLinesAreNotRead) {
  IniFile ini = IniFile::parse("[s]\n;k=commented\n  ; [t]\nk=real\n[t]\n;x=1\n");
  EXPECT_EQ(ini_text(ini, "s", "k"), "real");
  EXPECT_EQ(ini_text(ini, "t", "x"), "DEF");
}

TEST(IniSyntax, FirstOfDuplicateKeysAndSectionsWins) {
  IniFile ini = IniFile::parse(
      "[s]\nk=first\nK=second\n"
      "[t]\nx=1\n"
      "[S]\nk=third\nonly_in_second=yes\n");
  EXPECT_EQ(ini_text(ini, "s", "k"), "first");
  // The whole later section is ignored, also for keys the first one lacks.
  EXPECT_EQ(ini_text(ini, "s", "only_in_second"), "DEF");
  EXPECT_EQ(ini.read_int("t", "x", 0), 1u);
}

TEST(IniSyntax, CrLfLfAndLoneCrLineEndsAndAByteOrderMarkReadTheSame) {
  IniFile lf = IniFile::parse("[s]\nk=v\nn=5\n");
  IniFile crlf = IniFile::parse("[s]\r\nk=v\r\nn=5\r\n");
  IniFile cr = IniFile::parse("[s]\rk=v\rn=5\r");
  IniFile bom = IniFile::parse("\xEF\xBB\xBF[s]\r\nk=v\r\nn=5");
  IniFile utf16 = IniFile::parse(std::string("\xFF\xFE[\0s\0]\0\r\0k\0=\0v\0\r\0n\0=\0005\0", 24));
  for (const IniFile* ini : {&lf, &crlf, &cr, &bom, &utf16}) {
    EXPECT_EQ(ini_text(*ini, "s", "k"), "v");
    EXPECT_EQ(ini->read_int("s", "n", 0), 5u);
  }
}

TEST(IniSyntax, LinesOutsideSectionsAndWithoutEqualsSignAreIgnored) {
  IniFile ini = IniFile::parse("k=before\n[s]\nnot a pair\n[broken\nk=in\n");
  // "[broken" has no closing bracket, so it is not a section header: k belongs to [s].
  EXPECT_EQ(ini_text(ini, "s", "k"), "in");
  EXPECT_EQ(ini_text(ini, "", "k"), "DEF");
}

TEST(IniSyntax, ValueKeepsEqualsSignsAfterTheFirst) {
  IniFile ini = IniFile::parse("[s]\nbootargs=console=ttyS0,115200 root=/dev/mtd2\n");
  EXPECT_EQ(ini_text(ini, "s", "bootargs"), "console=ttyS0,115200 root=/dev/mtd2");
}

TEST(IniIntegers, DecimalAndHexadecimalGiveTheSameValue) {
  IniFile ini = IniFile::parse("[s]\nhex=0x80000\ndec=524288\nupper=0xABCdef\n");
  EXPECT_EQ(ini.read_int("s", "hex", 0), 524288u);
  EXPECT_EQ(ini.read_int("s", "dec", 0), 524288u);
  EXPECT_EQ(ini.read_int("s", "upper", 0), 0xABCDEFu);
}

TEST(IniIntegers, ReadingStopsAtTheFirstCharacterThatCannotContinueTheNumber) {
  EXPECT_EQ(parse_profile_int("42abc"), 42u);
  EXPECT_EQ(parse_profile_int("0x1G"), 1u);
  EXPECT_EQ(parse_profile_int("abc"), 0u);
  EXPECT_EQ(parse_profile_int("0x"), 0u);
  EXPECT_EQ(parse_profile_int("12 34"), 12u);
  EXPECT_EQ(parse_profile_int("0X10"), 0u);  // only a lower-case x selects hexadecimal
}

TEST(IniIntegers, SignsAndOverflowWrapLikeA32BitUnsignedValue) {
  EXPECT_EQ(parse_profile_int("-1"), 0xFFFFFFFFu);
  EXPECT_EQ(parse_profile_int("+7"), 7u);
  EXPECT_EQ(parse_profile_int("4294967295"), 0xFFFFFFFFu);
  EXPECT_EQ(parse_profile_int("4294967296"), 0u);
  EXPECT_EQ(parse_profile_int("4294967297"), 1u);
  EXPECT_EQ(parse_profile_int("0x1FFFFFFFF"), 0xFFFFFFFFu);
  EXPECT_EQ(parse_profile_int("-0x10"), 0xFFFFFFF0u);
}

TEST(IniIntegers, AbsentSectionOrKeyGivesTheDefaultAndGarbageGivesZero) {
  IniFile ini = IniFile::parse("[s]\ngarbage=xyz\n");
  EXPECT_EQ(ini.read_int("s", "missing", 0xFFFFFFFFu), 0xFFFFFFFFu);
  EXPECT_EQ(ini.read_int("t", "garbage", 9), 9u);
  EXPECT_EQ(ini.read_int("s", "garbage", 9), 0u);
}

TEST(IniFiles, AbsentFileOrAFolderInItsPlaceGivesDefaults) {
  test::TempDir folder;
  std::filesystem::create_directory(folder / "dir.ini");
  for (const char* name : {"absent.ini", "dir.ini"}) {
    IniFile ini = IniFile::load(folder / name);
    EXPECT_EQ(ini_text(ini, "s", "k", "BADID"), "BADID") << name;
    EXPECT_EQ(ini.read_int("s", "k", 5), 5u) << name;
  }
}

}  // namespace
}  // namespace skav::config

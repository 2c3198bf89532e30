// The INI reader against the corpus of tests/data/ini: small files and the answers that the
// platform's private-profile reader gives for them, query by query.

#include "support/ini_corpus.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/config/environment.h"
#include "core/config/ini.h"

namespace skav::config {
namespace {

const std::filesystem::path kCorpus = std::filesystem::path(SKAV_SOURCE_DIR) / "tests/data/ini";

std::vector<test::IniQuery> corpus() {
  std::vector<test::IniQuery> queries;
  std::string error;
  EXPECT_TRUE(test::load_ini_corpus(kCorpus / "index.txt", queries, error)) << error;
  return queries;
}

// Non-printable bytes as \xNN, so that a failure shows what differs.
std::string shown(const std::string& text) {
  std::string out;
  for (char c : text) {
    auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F) {
      out.push_back(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    }
  }
  return out;
}

TEST(IniCorpus, EveryQueryGetsThePlatformsAnswer) {
  const std::vector<test::IniQuery> queries = corpus();
  ASSERT_GT(queries.size(), 50u);
  std::map<std::string, IniFile> files;
  for (const test::IniQuery& q : queries) {
    auto [it, added] = files.try_emplace(q.file);
    if (added) it->second = IniFile::load(kCorpus / q.file);
    const IniFile& ini = it->second;
    const std::string where = "index.txt:" + std::to_string(q.line);
    if (q.kind == test::IniQuery::Kind::kInt) {
      EXPECT_EQ(ini.read_int(q.section, q.key, q.int_default), q.expected_int) << where;
      continue;
    }
    // One byte more than the buffer, to see that nothing is written past it.
    std::string buffer(q.size + 1, '#');
    ini.read_text(q.section, q.key, q.text_default.c_str(), buffer.data(), q.size);
    EXPECT_EQ(buffer.back(), '#') << where;
    EXPECT_EQ(shown(buffer.c_str()), shown(q.expected_text)) << where;
  }
}

// A file that no query reads, or a query of a file that is not there, is a slip in the corpus.
TEST(IniCorpus, EveryFileIsQueriedAndOnlyTheMissingOneIsAbsent) {
  std::set<std::string> queried;
  for (const test::IniQuery& q : corpus()) queried.insert(q.file);
  std::set<std::string> present;
  for (const auto& entry : std::filesystem::directory_iterator(kCorpus)) {
    if (entry.path().extension() == ".ini") present.insert(entry.path().filename().string());
  }
  std::set<std::string> expected = present;
  expected.insert("missing.ini");
  EXPECT_EQ(queried, expected);
  EXPECT_EQ(present.count("missing.ini"), 0u);
}

// The description file's names are used as read, but looked up trimmed: the entry keeps the
// blanks of the quoted name, and a name cut to 15 characters that ends in a blank finds its key.
TEST(IniCorpus, DescriptionFileNamesWithBlanksFindTheirValuesAndKeepTheirBlanks) {
  SectionRecord record{};
  std::strcpy(record.filename, "environment.ini");
  std::strcpy(record.mem_type, "spi");
  const MacDigits::Digits digits = {'0', '0', '1', '1', '2', '2', '3', '3', '4', '4', '5', '5'};
  auto image = std::make_unique<EnvironmentImage>();
  StringLog log;
  build_environment_image(&log, record, digits, kCorpus, *image);
  const std::string entries =
      std::string(" bootdelay =3\0abcdefghijklmn =cut name\0MAC0=00:11:22:33:44:55\0\0", 63);
  ASSERT_EQ(image->used_length, 31 + entries.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image->bytes.data()) + 31, entries.size()),
            entries);
  EXPECT_TRUE(image->has_mac_variable);
}

}  // namespace
}  // namespace skav::config

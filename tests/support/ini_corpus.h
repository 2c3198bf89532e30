#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace skav::test {

// One query of the INI corpus (tests/data/ini/index.txt): a read of one file with the answer
// that the platform's private-profile reader gives. The same corpus serves the reader's own
// test and a comparison with the platform's GetPrivateProfileStringA/GetPrivateProfileIntA.
struct IniQuery {
  enum class Kind { kText, kInt };
  Kind kind = Kind::kText;
  int line = 0;      // in the index, for messages
  std::string file;  // relative to the index's folder; it may be absent on purpose
  std::string section;
  std::string key;
  std::string text_default;
  std::size_t size = 0;  // a text query's buffer, terminating zero included
  std::string expected_text;
  std::uint32_t int_default = 0;
  std::uint32_t expected_int = 0;
  bool decided = false;  // the answer is this reader's choice, not a documented platform answer
};

// Reads the index at `index` into `queries`. False, with `error` naming the line, when the file
// cannot be read or a line is malformed.
bool load_ini_corpus(const std::filesystem::path& index, std::vector<IniQuery>& queries,
                     std::string& error);

}  // namespace skav::test

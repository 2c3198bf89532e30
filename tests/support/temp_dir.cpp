#include "support/temp_dir.h"

#include <stdlib.h>

#include <fstream>
#include <system_error>

namespace skav::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "skav-test-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  path_ = made != nullptr ? std::filesystem::path(made) : std::filesystem::path(pattern);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::write(const std::string& name, const std::string& content) const {
  std::filesystem::path file = path_ / name;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  out << content;
  return file;
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace skav::test

#include "support/temp_dir.h"

#include <stdlib.h>
#ifdef _WIN32
#include <process.h>
#endif

#include <fstream>
#include <system_error>

namespace skav::test {

#ifdef _WIN32
// MinGW has no mkdtemp: the first name not yet taken, made with create_directory, which fails
// when the name exists.
TempDir::TempDir() {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  const unsigned long pid = static_cast<unsigned long>(_getpid());
  for (unsigned n = 0;; ++n) {
    path_ = base / ("skav-test-" + std::to_string(pid) + "-" + std::to_string(n));
    std::error_code ec;
    if (std::filesystem::create_directory(path_, ec) || n == 10000) break;
  }
}
#else
TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "skav-test-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  path_ = made != nullptr ? std::filesystem::path(made) : std::filesystem::path(pattern);
}
#endif

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

#pragma once

#include <filesystem>
#include <string>

namespace skav::test {

// A fresh directory under the system's temporary folder, removed with everything in it when the
// object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  // Writes `content` to a file in the directory (folders created) and returns its path.
  std::filesystem::path write(const std::string& name, const std::string& content) const;
  // Copies everything in `folder` (recursively) into the directory.
  void copy_from(const std::filesystem::path& folder) const {
    std::filesystem::copy(folder, path_, std::filesystem::copy_options::recursive);
  }

 private:
  std::filesystem::path path_;
};

// The whole file's bytes; empty when it cannot be read.
std::string read_file(const std::filesystem::path& path);

}  // namespace skav::test

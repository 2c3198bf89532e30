#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace skav::test {

// A stdio stream whose bytes are kept in memory, for code that writes to a FILE*.
class CapturedStream {
 public:
  CapturedStream() : file_(open_memstream(&data_, &size_)) {}
  ~CapturedStream() {
    std::fclose(file_);
    std::free(data_);
  }
  CapturedStream(const CapturedStream&) = delete;
  CapturedStream& operator=(const CapturedStream&) = delete;
  std::FILE* file() { return file_; }
  // Everything written so far.
  std::string text() {
    std::fflush(file_);
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_;
};

}  // namespace skav::test

#pragma once

#include <string>
#include <utility>

namespace skav {

// The result of a file or system call: success, or an error code (the platform's error
// number) with a message for the operator that names what failed and why.
class Status {
 public:
  Status() = default;
  static Status error(int code, std::string message) { return Status(code, std::move(message)); }

  bool ok() const { return code_ == 0; }
  int code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  Status(int code, std::string message) : code_(code == 0 ? -1 : code), message_(std::move(message)) {}
  int code_ = 0;
  std::string message_;
};

}  // namespace skav

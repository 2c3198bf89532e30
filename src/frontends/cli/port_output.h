#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "frontends/cli/terminal.h"
#include "core/log.h"

namespace skav::cli {

// Standard output shared by the ports of one station: every port's lines, each prefixed with
// "<port>: ". A line that another port interrupts before its line end (a prompt waiting for
// the operator, "Find the UBOOT CONFIG file.....") is ended there and taken up again, prefix
// and text so far, when its port writes on. On a terminal, board text is escaped.
class PrefixedOutput {
 public:
  explicit PrefixedOutput(std::FILE* out = stdout);
  void append(const std::string& port, std::string_view text);
  void erase_last(const std::string& port);
  // Writes `line` and a line end to `other` (standard error, on the same terminal) on a row of
  // its own: a port's unfinished row is ended first, and taken up again when its port writes on.
  void write_beside(std::FILE* other, std::string_view line);

 private:
  void write(std::string_view text);
  std::mutex mutex_;
  std::FILE* out_;
  bool terminal_;
  std::optional<std::string> open_;        // the port whose line stands unfinished on the output
  std::map<std::string, std::string> line_;  // each port's unfinished line so far
};

// One port's log among several: byte for byte into its own file (as a one-port station writes
// standard output), and prefixed onto the shared standard output.
class PortLog : public Log {
 public:
  // Opens `file` to append to it: a restart goes on after the last run's log, adding nothing
  // but the station's own bytes. ok() says whether that worked.
  PortLog(std::string port, const std::filesystem::path& file, PrefixedOutput& out);
  ~PortLog() override;
  PortLog(const PortLog&) = delete;
  PortLog& operator=(const PortLog&) = delete;
  bool ok() const { return file_ != nullptr; }
  void append(std::string_view text) override;
  void erase_last() override;

 private:
  std::string port_;
  std::FILE* file_;
  std::unique_ptr<StdoutLog> file_log_;
  PrefixedOutput& out_;
};

}  // namespace skav::cli

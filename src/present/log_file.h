#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace skav::present {

// The program's name in captions and message boxes.
inline constexpr char kTitle[] = "SKAV";

// The window's caption for the log's file: "shift.log - SKAV"; " - SKAV" without one.
std::string caption(std::string_view path);

// What Open does with a file.
struct OpenResult {
  enum class Then {
    kShow,     // show `bytes` as the log, the file is the log's; the station's start-up runs
    kNewLog,   // tell `message`, then New: an empty log without a file, and the start-up
    kNothing,  // tell `message`; the log stays as it was
  };
  Then then = Then::kNothing;
  std::string bytes;
  std::string message;
};

// The log's file and the rules of New, Open and Save. The window asks for names, shows the
// messages and posts the station's start-up where a result says so.
class LogFile {
 public:
  // The log's file; empty while it has none (a new log).
  const std::string& path() const { return path_; }
  std::string caption() const { return present::caption(path_); }
  // Save asks for a name (Save As) first.
  bool needs_name() const { return path_.empty(); }

  // New: the log has no file any more. The window empties the log and runs the start-up.
  void forget() { path_.clear(); }
  // Open: reads `path`, at most the log's limit. The file becomes the log's when it is shown;
  // a file over the limit is refused with "The file is too large to open." and a new log.
  OpenResult open(const std::string& path);
  // Save: writes `bytes` to `path` whole or not at all (a failed save never leaves half a
  // log), and the file becomes the log's. The operator's message on failure, none when saved.
  std::optional<std::string> save(const std::string& path, std::string_view bytes);

 private:
  std::string path_;
};

}  // namespace skav::present

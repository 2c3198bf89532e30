#include "core/station/records.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace skav::station {

namespace {

// Adapter names may come from the system: quote a field that holds a comma or a quote.
std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

bool write_all(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string iso8601_now() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[24];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
  // ISO 8601's extended form of the zone offset: +01:00.
  long offset = local.tm_gmtoff / 60;
  char text[64];
  std::snprintf(text, sizeof text, "%s%c%02ld:%02ld", stamp, offset < 0 ? '-' : '+',
                std::labs(offset) / 60, std::labs(offset) % 60);
  return text;
}

transfer::Verdict overall_verdict(const BoardRecord& record) {
  using transfer::Verdict;
  bool timeout = false, fail = false, pass = false;
  for (Verdict v : {record.environment, record.kernel, record.uboot, record.filesystem, record.diag}) {
    timeout |= v == Verdict::kTimeout;
    fail |= v == Verdict::kFail;
    pass |= v == Verdict::kPass;
  }
  if (timeout) return Verdict::kTimeout;
  if (fail) return Verdict::kFail;
  return pass ? Verdict::kPass : Verdict::kSkipped;
}

std::string format_record(const BoardRecord& r) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
  std::string line = csv_field(r.time) + "," + csv_field(r.adapter) + "," + r.board_mac + "," +
                     r.written_mac + "," + transfer::verdict_name(r.environment) + "," +
                     transfer::verdict_name(r.kernel) + "," + transfer::verdict_name(r.uboot) +
                     "," + transfer::verdict_name(r.filesystem) + "," +
                     transfer::verdict_name(r.diag) + "," + transfer::verdict_name(r.overall) +
                     "," + seconds + "\n";
  return line;
}

bool append_record(const std::filesystem::path& file, const BoardRecord& record,
                   std::string& error) {
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = file.string() + ": " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  std::string text;
  if (::fstat(fd, &info) == 0 && info.st_size == 0) text = kRecordsHeader;
  text += format_record(record);
  // One write per line, so a crash leaves whole lines only; fsync before the next board.
  bool ok = write_all(fd, text) && ::fsync(fd) == 0;
  if (!ok) error = file.string() + ": " + std::strerror(errno);
  ::close(fd);
  return ok;
}

}  // namespace skav::station

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/platform/files.h"

namespace skav::platform {

namespace fs = std::filesystem;

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes now and reports close's error, which for a written file can be a write error.
  int close() {
    int fd = release();
    return (fd >= 0 && ::close(fd) != 0) ? errno : 0;
  }

 private:
  int fd_;
};

int write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

std::string read_record(int fd) {
  char text[512] = {};
  ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  return std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

}  // namespace

struct FileLock::Handle {
  int fd;
};

FileLock::FileLock(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}

FileLock::~FileLock() { ::close(handle_->fd); }

int FileLock::try_lock(const fs::path& path, std::unique_ptr<FileLock>& out, std::string* holder) {
  Descriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644));
  if (fd.get() < 0) return errno;
  // flock goes with the open file description: the system drops it when the process dies.
  while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    int error = errno;
    if (error == EWOULDBLOCK && holder != nullptr) *holder = read_record(fd.get());
    return error;
  }
  out.reset(new FileLock(std::make_unique<Handle>(Handle{fd.release()})));
  return 0;
}

void FileLock::write_record(std::string_view record) {
  if (::ftruncate(handle_->fd, 0) == 0) {
    ssize_t written = ::pwrite(handle_->fd, record.data(), record.size(), 0);
    (void)written;  // the record only informs; the lock holds without it
  }
}

long process_id() { return static_cast<long>(::getpid()); }

int read_small_file(const fs::path& path, std::size_t max_size, std::string& text, bool& exists) {
  exists = false;
  text.clear();
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) return errno == ENOENT ? 0 : errno;
  exists = true;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISREG(st.st_mode)) return EINVAL;
  if (static_cast<std::uintmax_t>(st.st_size) > max_size) return EFBIG;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > max_size) return EFBIG;
  }
}

int resolve_links(const fs::path& path, fs::path& out) {
  constexpr int kMostLinks = 40;  // the system's own bound for a path (ELOOP beyond)
  std::error_code ec;
  fs::path current = fs::absolute(path, ec);
  if (ec) return ec.value();
  for (int links = 0;; ++links) {
    if (!fs::is_symlink(fs::symlink_status(current, ec))) break;
    if (links == kMostLinks) return ELOOP;
    fs::path target = fs::read_symlink(current, ec);
    if (ec) return ec.value();
    current = target.is_absolute() ? target : current.parent_path() / target;
  }
  // The folder may hold links too: two names of one folder must give one file.
  fs::path folder = fs::weakly_canonical(current.parent_path(), ec);
  if (ec) return ec.value();
  out = folder / current.filename();
  return 0;
}

int name_count(const fs::path& path, std::uintmax_t& count) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno != ENOENT) return errno;
    count = 0;
    return 0;
  }
  count = static_cast<std::uintmax_t>(info.st_nlink);
  return 0;
}

int sync_folder(const fs::path& folder) {
  fs::path name = folder.empty() ? fs::path(".") : folder;
  Descriptor fd(::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) return errno;
  if (::fsync(fd.get()) != 0 && errno != EINVAL && errno != EROFS) return errno;
  return 0;
}

int replace_file(const fs::path& path, const fs::path& temp, std::string_view text) {
  if (::unlink(temp.c_str()) != 0 && errno != ENOENT) return errno;  // a stale, interrupted write
  struct stat old {};
  const bool keep_mode = ::stat(path.c_str(), &old) == 0;
  Descriptor fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0644));
  if (fd.get() < 0) return errno;
  int err = write_all(fd.get(), text);
  if (err == 0 && keep_mode && ::fchmod(fd.get(), old.st_mode & 07777) != 0) err = errno;
  if (err == 0 && ::fsync(fd.get()) != 0) err = errno;
  if (int close_err = fd.close(); err == 0) err = close_err;
  if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(temp.c_str());
    return err;
  }
  return sync_folder(path.parent_path());
}

int append_synced(const fs::path& path, std::string_view header, std::string_view text) {
  Descriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (fd.get() < 0) return errno;
  // Writers that find the file empty at once (two ports, two stations on one folder) would each
  // write the header: the emptiness test and the write are made under an exclusive lock. A lock
  // held past the bound (a writer hung elsewhere) does not keep the line back; it is written
  // anyway. The lock goes with the descriptor.
  for (int tries = 0; ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && tries < kAppendLockTries;
       ++tries) {
    if (errno != EINTR && errno != EWOULDBLOCK) break;
    ::usleep(static_cast<useconds_t>(kAppendLockPause.count()));
  }
  struct stat info {};
  std::string all;
  if (::fstat(fd.get(), &info) == 0 && info.st_size == 0) all = header;
  all += text;
  int err = write_all(fd.get(), all);
  if (err == 0 && ::fsync(fd.get()) != 0) err = errno;
  if (int close_err = fd.close(); err == 0) err = close_err;
  return err;
}

std::FILE* open_file(const fs::path& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

bool local_time(std::time_t when, std::tm& local, long& offset_minutes) {
  if (localtime_r(&when, &local) == nullptr) return false;
  offset_minutes = local.tm_gmtoff / 60;
  return true;
}

fs::path user_config_folder() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME");
      config != nullptr && config[0] == '/') {  // a relative value is invalid and ignored
    return config;
  }
  fs::path home;
  if (const char* env_home = std::getenv("HOME"); env_home != nullptr && *env_home != '\0') {
    home = env_home;
  } else {
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
      home = found->pw_dir;
    }
  }
  if (home.empty()) return {};
  return home / ".config";
}

fs::path machine_data_folder() { return "/var/lib/skav"; }

int share_with_group(const fs::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return errno;
  constexpr mode_t kGroup = S_IRGRP | S_IWGRP;
  if (info.st_uid != ::geteuid() || (info.st_mode & kGroup) == kGroup) return 0;
  return ::chmod(path.c_str(), (info.st_mode & 07777) | kGroup) == 0 ? 0 : errno;
}

}  // namespace skav::platform

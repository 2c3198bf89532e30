#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "core/settings/pool_hold.h"

namespace skav::settings {

namespace {

std::string holder_text(int fd) {
  char text[256] = {};
  ssize_t n = pread(fd, text, sizeof text - 1, 0);
  std::string holder(text, n > 0 ? static_cast<std::size_t>(n) : 0);
  while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\r')) holder.pop_back();
  return holder;
}

}  // namespace

PoolHold::~PoolHold() { ::close(handle_); }

Status PoolHold::acquire(const std::filesystem::path& store, const std::string& program,
                         std::unique_ptr<PoolHold>& out) {
  std::filesystem::path file = store;
  file += ".holder";
  std::error_code ec;
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    int error = errno;
    return Status::error(error, file.string() + ": " + std::strerror(error));
  }
  // The lock lives as long as the descriptor: the system drops it when the process dies, so a
  // killed station never leaves the pool claimed.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    std::string holder = holder_text(fd);
    ::close(fd);
    if (error == EWOULDBLOCK) {
      return Status::error(error, "the MAC address pool of " + store.string() + " is in use by " +
                                      (holder.empty() ? std::string("another station") : holder));
    }
    return Status::error(error, file.string() + ": " + std::strerror(error));
  }
  // Naming the holder serves a second station's message; the claim holds without it.
  std::string text = program + " (process " + std::to_string(::getpid()) + ")\n";
  if (::ftruncate(fd, 0) == 0) {
    ssize_t written = ::pwrite(fd, text.data(), text.size(), 0);
    (void)written;
  }
  out.reset(new PoolHold(fd));
  return {};
}

}  // namespace skav::settings

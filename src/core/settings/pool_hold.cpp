#include "core/settings/pool_hold.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

#include "core/platform/files.h"
#include "core/platform/utf8.h"

namespace skav::settings {

PoolHold::PoolHold(std::unique_ptr<platform::FileLock> lock) : lock_(std::move(lock)) {}

PoolHold::~PoolHold() = default;

Status PoolHold::acquire(const std::filesystem::path& store, const std::string& program,
                         std::unique_ptr<PoolHold>& out) {
  // The hold is the file's, not the name's: a second station given a symbolic link to the store
  // finds the same holder file.
  std::filesystem::path resolved;
  if (int error = platform::resolve_links(store, resolved); error != 0)
    return Status::error(error, platform::utf8_of(store) + ": " + std::strerror(error));
  // A hard link is a second name that nothing leads back from: a station given the other name
  // would hold a pool of its own on the same addresses.
  std::uintmax_t names = 0;
  if (int error = platform::name_count(resolved, names); error != 0)
    return Status::error(error, platform::utf8_of(store) + ": " + std::strerror(error));
  if (names > 1) {
    return Status::error(EMLINK, platform::utf8_of(store) + " has " + std::to_string(names) +
                                     " hard links: a station started with another of its names "
                                     "would hand out the same addresses; keep one name (a "
                                     "symbolic link is fine)");
  }
  std::filesystem::path file = resolved;
  file += ".holder";
  std::error_code ec;
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
  // The lock goes with the process: the system drops it when the process dies, so a killed
  // station never leaves the pool claimed.
  std::unique_ptr<platform::FileLock> lock;
  std::string holder;
  if (int error = platform::FileLock::try_lock(file, lock, &holder); error != 0) {
    if (error == EWOULDBLOCK) {
      while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\r')) holder.pop_back();
      return Status::error(error, "the MAC address pool of " + platform::utf8_of(store) + " is in use by " +
                                      (holder.empty() ? std::string("another station") : holder));
    }
    return Status::error(error, platform::utf8_of(file) + ": " + std::strerror(error));
  }
  // Naming the holder serves a second station's message; the claim holds without it.
  lock->write_record(program + " (process " + std::to_string(platform::process_id()) + ")\n");
  out.reset(new PoolHold(std::move(lock)));
  return {};
}

}  // namespace skav::settings

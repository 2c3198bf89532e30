#pragma once

#include <windows.h>

#include <filesystem>
#include <memory>
#include <string>

namespace skav::windows {

// Exclusive hold of the MAC address pool by one station on this PC: a byte-range lock
// (LockFileEx) on a lock file. The file itself holds the holder's process id and program
// path, which others can read since the locked byte lies beyond them. The lock goes with the
// handle: on release, or when the holding process ends in any way.
class PoolLock {
 public:
  enum class Status {
    kAcquired,  // this process holds the pool until the PoolLock goes
    kHeld,      // another process holds it; holder_pid and holder_program say which, if known
    kFailed,    // the lock file could not be opened or locked; error says why
  };

  struct Result {
    Status status = Status::kFailed;
    std::unique_ptr<PoolLock> lock;  // set when acquired
    DWORD holder_pid = 0;            // kHeld: the holder's process id (0 when not recorded)
    std::string holder_program;      // kHeld: the holder's program path (empty when not)
    DWORD error = 0;                 // kFailed: the system's error code
  };

  // Tries once, without waiting, to take the pool guarded by `lock_file` (created if absent).
  static Result acquire(const std::filesystem::path& lock_file);

  ~PoolLock();
  PoolLock(const PoolLock&) = delete;
  PoolLock& operator=(const PoolLock&) = delete;

 private:
  explicit PoolLock(HANDLE file) : file_(file) {}
  HANDLE file_;
};

}  // namespace skav::windows

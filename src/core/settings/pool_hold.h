#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "core/status.h"

namespace skav::platform {
class FileLock;
}

namespace skav::settings {

// A claim that one process alone hands out a pool's addresses: held from acquire() until it
// is destroyed, and given up by the system when the process dies. The claim is a lock on
// `<store>.holder`, which also names the holder.
class PoolHold {
 public:
  ~PoolHold();
  PoolHold(const PoolHold&) = delete;
  PoolHold& operator=(const PoolHold&) = delete;

  // Claims the pool of the settings store at `store`, naming `program` as its holder. The claim
  // is the file's that `store` leads to, through any symbolic links. Fails with a message that
  // names the holder (program and process id) when another process holds it, when the file has
  // more than one hard link (another name would be a second pool), or says why the claim could
  // not be made.
  static Status acquire(const std::filesystem::path& store, const std::string& program,
                        std::unique_ptr<PoolHold>& out);

 private:
  explicit PoolHold(std::unique_ptr<platform::FileLock> lock);
  std::unique_ptr<platform::FileLock> lock_;
};

}  // namespace skav::settings

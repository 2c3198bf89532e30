#pragma once

// The few file-system services the core needs that differ between POSIX and Windows:
// files_posix.cpp and files_windows.cpp implement them. Results are 0 or an errno value
// (on Windows the system's error is mapped to the nearest one), so messages can use strerror.

#include <chrono>
#include <cstdio>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace skav::platform {

// An exclusive lock on a lock file (created when absent), held until the object goes, and
// dropped by the system when the process ends in any way. The file's bytes stay readable and
// writable through the lock, so a holder can record who it is for others to read.
class FileLock {
 public:
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Tries once, without waiting. 0 locked (`out` set); EWOULDBLOCK when another holder has it
  // (`holder` then holds that holder's record, possibly empty); another errno value when the
  // file cannot be opened or locked.
  static int try_lock(const std::filesystem::path& path, std::unique_ptr<FileLock>& out,
                      std::string* holder = nullptr);

  // Replaces the file's bytes with `record` (at most a few hundred bytes), for others to read.
  void write_record(std::string_view record);

 private:
  struct Handle;
  explicit FileLock(std::unique_ptr<Handle> handle);
  std::unique_ptr<Handle> handle_;
};

// This process's id, for holder records.
long process_id();

// Reads a regular file of at most `max_size` bytes whole. 0 with `exists` false when there is
// no such file; EISDIR for a folder, EINVAL for anything else that is not a regular file,
// EFBIG when it is larger. A fifo in its place does not block the call.
int read_small_file(const std::filesystem::path& path, std::size_t max_size, std::string& text,
                    bool& exists);

// Replaces the file at `path` atomically with `text`: written to `temp` (a stale one is
// removed first), synced, given the permissions the old file had (POSIX), renamed over `path`,
// and the folder synced, so that a crash leaves either the old or the new file. On failure the
// temporary file is removed and `path` is untouched.
int replace_file(const std::filesystem::path& path, const std::filesystem::path& temp,
                 std::string_view text);

// The file `path` names once every symbolic link on the way is followed (a link to a link
// again, at most 40 deep), its folder made absolute and canonical; on Windows an existing
// file's final path. A name whose file does not exist yet stays that name. 0, or an errno
// value (ELOOP for too many links).
int resolve_links(const std::filesystem::path& path, std::filesystem::path& out);

// How many names (hard links) the file at `path` has; 0 when it does not exist. 0 or an errno.
int name_count(const std::filesystem::path& path, std::uintmax_t& count);

// Makes a rename or creation in `folder` durable (a no-op where the system does not need it).
int sync_folder(const std::filesystem::path& folder);

// How long append_synced waits for another writer's turn: tries, and the pause between them.
inline constexpr int kAppendLockTries = 5000;
inline constexpr std::chrono::microseconds kAppendLockPause{1000};

// Appends `text` to the file (created when absent; `header` is written first when the file is
// empty) in one write, and syncs it before returning. Writers in other threads or processes
// are taken one at a time, so that only one of them writes the header; one that waits longer
// than kAppendLockTries x kAppendLockPause (5 s) writes without its turn.
int append_synced(const std::filesystem::path& path, std::string_view header,
                  std::string_view text);

// std::fopen for a path in the system's own encoding (wide on Windows). Null with errno set;
// on Windows a folder gives EINVAL.
std::FILE* open_file(const std::filesystem::path& path, const char* mode);

// The local time of `when` and the local zone's offset from UTC in minutes (east positive).
bool local_time(std::time_t when, std::tm& local, long& offset_minutes);

// The folder for per-user configuration: $XDG_CONFIG_HOME or ~/.config on POSIX, %APPDATA%
// on Windows. Empty when none is known.
std::filesystem::path user_config_folder();

// The folder for data that every account of the PC shares: /var/lib/skav on POSIX,
// %ProgramData%\SKAV on Windows. Empty when none is known. Not created here: the set-up (or
// the installer) makes it, with write access for the station's users.
std::filesystem::path machine_data_folder();

// Lets the members of the file's group write it too when this account owns it (the first
// account to create a shared file), so that other accounts can append to it. 0, or an errno
// value. A no-op on Windows, where a file takes the access of its folder.
int share_with_group(const std::filesystem::path& path);

}  // namespace skav::platform

#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <cwchar>

#include "core/platform/files.h"

namespace skav::platform {

namespace fs = std::filesystem;

namespace {

// The locked byte lies at 4 GiB, far past any record, so that reading or writing the record
// never touches it (Windows locks are mandatory: a locked byte cannot be read through another
// handle). A lock may lie past the end of the file, which stays small.
constexpr DWORD kLockOffsetHigh = 1;
constexpr DWORD kRecordSize = 512;

// The nearest errno value for a system error, so that callers handle one kind of code.
int errno_of(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS: return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return EACCES;
    case ERROR_LOCK_VIOLATION:
    case ERROR_IO_PENDING: return EWOULDBLOCK;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_DIRECTORY: return ENOTDIR;
    default: return EIO;
  }
}

int last_errno() { return errno_of(GetLastError()); }

class Handle {
 public:
  explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  ~Handle() {
    if (valid()) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE release() {
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h;
  }
  int close() {
    HANDLE h = release();
    return (h != INVALID_HANDLE_VALUE && !CloseHandle(h)) ? last_errno() : 0;
  }

 private:
  HANDLE h_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

int write_all(HANDLE file, std::string_view text) {
  while (!text.empty()) {
    DWORD chunk = text.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(text.size());
    DWORD written = 0;
    if (!WriteFile(file, text.data(), chunk, &written, nullptr)) return last_errno();
    text.remove_prefix(written);
  }
  return 0;
}

std::string read_record(HANDLE file) {
  char record[kRecordSize] = {};
  DWORD got = 0;
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  if (!ReadFile(file, record, kRecordSize - 1, &got, nullptr)) return {};
  return std::string(record, got);
}

OVERLAPPED lock_position() {
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  return at;
}

}  // namespace

struct FileLock::Handle {
  HANDLE file;
};

FileLock::FileLock(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}

FileLock::~FileLock() {
  OVERLAPPED at = lock_position();
  UnlockFileEx(handle_->file, 0, 1, 0, &at);
  CloseHandle(handle_->file);
}

int FileLock::try_lock(const fs::path& path, std::unique_ptr<FileLock>& out, std::string* holder) {
  platform::Handle file(CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                                    kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
  if (!file.valid()) return last_errno();
  OVERLAPPED at = lock_position();
  if (!LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    int error = last_errno();
    if (error == EWOULDBLOCK && holder != nullptr) *holder = read_record(file.get());
    return error;
  }
  out.reset(new FileLock(std::make_unique<Handle>(Handle{file.release()})));
  return 0;
}

void FileLock::write_record(std::string_view record) {
  if (record.size() >= kRecordSize) record = record.substr(0, kRecordSize - 1);
  DWORD written = 0;
  SetFilePointer(handle_->file, 0, nullptr, FILE_BEGIN);
  WriteFile(handle_->file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  SetEndOfFile(handle_->file);
}

long process_id() { return static_cast<long>(GetCurrentProcessId()); }

int read_small_file(const fs::path& path, std::size_t max_size, std::string& text, bool& exists) {
  exists = false;
  text.clear();
  const std::wstring name = path.wstring();
  DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    int error = last_errno();
    return error == ENOENT ? 0 : error;
  }
  exists = true;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EISDIR;
  platform::Handle file(CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return last_errno();
  if (GetFileType(file.get()) != FILE_TYPE_DISK) return EINVAL;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) return last_errno();
  if (static_cast<std::uint64_t>(size.QuadPart) > max_size) return EFBIG;
  char buffer[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return last_errno();
    if (got == 0) return 0;
    text.append(buffer, got);
    if (text.size() > max_size) return EFBIG;
  }
}

int resolve_links(const fs::path& path, fs::path& out) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  if (ec) return ec.value();
  // An existing file is named by its final path: links, junctions and substituted drives are
  // all resolved by the system itself.
  platform::Handle file(CreateFileW(absolute.wstring().c_str(), 0, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) {
    // Not there yet (a store made at its first write), or being replaced this moment by a
    // write through the same name: the name given is the file's.
    out = absolute;
    return 0;
  }
  wchar_t name[MAX_PATH * 4];
  DWORD length = GetFinalPathNameByHandleW(file.get(), name, MAX_PATH * 4, FILE_NAME_NORMALIZED);
  if (length == 0 || length >= MAX_PATH * 4) {
    // A file system that cannot name its files (some network shares) keeps the name given.
    out = absolute;
    return 0;
  }
  std::wstring text(name, length);
  // "\\?\C:\..." : the prefix is not part of a name other calls take everywhere.
  if (text.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    text = L"\\\\" + text.substr(8);
  } else if (text.rfind(L"\\\\?\\", 0) == 0) {
    text = text.substr(4);
  }
  out = fs::path(text);
  return 0;
}

int name_count(const fs::path& path, std::uintmax_t& count) {
  platform::Handle file(CreateFileW(path.wstring().c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return last_errno();
    count = 0;
    return 0;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.get(), &info)) return last_errno();
  count = info.nNumberOfLinks;
  return 0;
}

// NTFS journals its metadata: a rename made with MOVEFILE_WRITE_THROUGH is durable when it
// returns, and a folder cannot be flushed on its own.
int sync_folder(const fs::path&) { return 0; }

int replace_file(const fs::path& path, const fs::path& temp, std::string_view text) {
  const std::wstring temp_name = temp.wstring();
  if (!DeleteFileW(temp_name.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
    return last_errno();  // a stale, interrupted write that cannot go
  platform::Handle file(CreateFileW(temp_name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return last_errno();
  int err = write_all(file.get(), text);
  if (err == 0 && !FlushFileBuffers(file.get())) err = last_errno();
  if (int close_err = file.close(); err == 0) err = close_err;
  if (err == 0 && !MoveFileExW(temp_name.c_str(), path.wstring().c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    err = last_errno();
  if (err != 0) DeleteFileW(temp_name.c_str());
  return err;
}

int append_synced(const fs::path& path, std::string_view header, std::string_view text) {
  // Read access only so that the handle may hold a lock; writes still only append.
  platform::Handle file(CreateFileW(path.wstring().c_str(), FILE_APPEND_DATA | GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return last_errno();
  // Writers that find the file empty at once would each write the header: the size test and
  // the write are made under an exclusive lock on a byte far past any data. A lock held past
  // the bound does not keep the line back; it is written anyway. Closing the handle drops it.
  OVERLAPPED at = lock_position();
  for (int tries = 0;
       !LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) &&
       tries < kAppendLockTries;
       ++tries) {
    if (GetLastError() != ERROR_LOCK_VIOLATION) break;
    Sleep(static_cast<DWORD>(kAppendLockPause.count() / 1000));
  }
  LARGE_INTEGER size{};
  std::string all;
  if (GetFileSizeEx(file.get(), &size) && size.QuadPart == 0) all = header;
  all += text;
  int err = write_all(file.get(), all);
  if (err == 0 && !FlushFileBuffers(file.get())) err = last_errno();
  if (int close_err = file.close(); err == 0) err = close_err;
  return err;
}

std::FILE* open_file(const fs::path& path, const char* mode) {
  const std::wstring name = path.wstring();
  // A folder is not a file to read (EINVAL, as its callers say on POSIX), rather than the
  // EACCES that Windows gives.
  DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    errno = EINVAL;
    return nullptr;
  }
  std::wstring wide_mode(mode, mode + std::strlen(mode));
  return _wfopen(name.c_str(), wide_mode.c_str());
}

bool local_time(std::time_t when, std::tm& local, long& offset_minutes) {
  if (localtime_s(&local, &when) != 0) return false;
  // The offset is what the local time shows past UTC's for the same moment.
  std::tm utc{};
  if (gmtime_s(&utc, &when) != 0) return false;
  utc.tm_isdst = local.tm_isdst;  // mktime then reads both as local time of the same season
  std::tm local_copy = local;
  std::time_t as_local = std::mktime(&local_copy);
  std::time_t as_utc = std::mktime(&utc);
  if (as_local == static_cast<std::time_t>(-1) || as_utc == static_cast<std::time_t>(-1))
    return false;
  offset_minutes = static_cast<long>((as_local - as_utc) / 60);
  return true;
}

fs::path user_config_folder() {
  if (const wchar_t* appdata = _wgetenv(L"APPDATA"); appdata != nullptr && *appdata != L'\0')
    return fs::path(appdata);
  return {};
}

fs::path machine_data_folder() {
  for (const wchar_t* name : {L"ProgramData", L"ALLUSERSPROFILE"})
    if (const wchar_t* folder = _wgetenv(name); folder != nullptr && *folder != L'\0')
      return fs::path(folder) / L"SKAV";
  return {};
}

int share_with_group(const fs::path&) { return 0; }

}  // namespace skav::platform

#include "windows/pool_lock.h"

#include <cstdio>
#include <cstring>

namespace skav::windows {

namespace {

// The locked byte lies at 4 GiB, far past the holder's record, so that reading the record
// never touches it (Windows locks are mandatory: a locked byte cannot be read through another
// handle). A lock may lie past the end of the file, which stays small.
constexpr DWORD kLockOffsetHigh = 1;
constexpr std::size_t kRecordSize = 512;

bool lock_byte(HANDLE file) {
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

// "pid program-path\n" at the start of the file.
void write_record(HANDLE file) {
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  char record[kRecordSize];
  int n = std::snprintf(record, sizeof record, "%lu %s\n",
                        static_cast<unsigned long>(GetCurrentProcessId()), program);
  if (n < 0) return;
  DWORD length = static_cast<DWORD>(n < static_cast<int>(sizeof record) ? n : sizeof record - 1);
  DWORD written = 0;
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  WriteFile(file, record, length, &written, nullptr);
  SetEndOfFile(file);
  FlushFileBuffers(file);
}

void read_record(HANDLE file, PoolLock::Result& result) {
  char record[kRecordSize] = {};
  DWORD got = 0;
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  if (!ReadFile(file, record, sizeof record - 1, &got, nullptr)) return;
  record[got] = '\0';
  char* end = nullptr;
  unsigned long pid = std::strtoul(record, &end, 10);
  if (end == record || *end != ' ') return;
  result.holder_pid = static_cast<DWORD>(pid);
  std::string program(end + 1);
  if (!program.empty() && program.back() == '\n') program.pop_back();
  result.holder_program = program;
}

}  // namespace

PoolLock::Result PoolLock::acquire(const std::filesystem::path& lock_file) {
  Result result;
  HANDLE file = CreateFileW(lock_file.wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    result.error = GetLastError();
    return result;
  }
  if (lock_byte(file)) {
    write_record(file);
    result.status = Status::kAcquired;
    result.lock.reset(new PoolLock(file));
    return result;
  }
  DWORD error = GetLastError();
  if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
    CloseHandle(file);
    result.error = error;
    return result;
  }
  result.status = Status::kHeld;
  read_record(file, result);
  CloseHandle(file);
  return result;
}

PoolLock::~PoolLock() {
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  UnlockFileEx(file_, 0, 1, 0, &at);
  CloseHandle(file_);
}

}  // namespace skav::windows

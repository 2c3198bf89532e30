#include "windows/pool_lock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/temp_dir.h"

namespace skav::windows {
namespace {

std::string own_program() {
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  return program;
}

// Runs this test program again with one test selected and the environment given; its exit code.
DWORD run_self(const std::string& filter, const std::string& lock_file) {
  SetEnvironmentVariableA("SKAV_POOL_LOCK_FILE", lock_file.c_str());
  SetEnvironmentVariableA("SKAV_POOL_LOCK_HOLDER", std::to_string(GetCurrentProcessId()).c_str());
  std::string command = "\"" + own_program() + "\" --gtest_filter=" + filter;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                nullptr, &startup, &process);
  SetEnvironmentVariableA("SKAV_POOL_LOCK_FILE", nullptr);
  if (!started) return 255;
  WaitForSingleObject(process.hProcess, 60'000);
  DWORD code = 255;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

TEST(PoolLock, ASecondHolderIsRefusedUntilTheFirstReleases) {
  test::TempDir dir;
  const auto file = dir / "pool.lock";
  PoolLock::Result first = PoolLock::acquire(file);
  ASSERT_EQ(first.status, PoolLock::Status::kAcquired) << first.error;
  ASSERT_NE(first.lock, nullptr);
  PoolLock::Result second = PoolLock::acquire(file);
  EXPECT_EQ(second.status, PoolLock::Status::kHeld);
  EXPECT_EQ(second.lock, nullptr);
  EXPECT_EQ(second.holder_pid, GetCurrentProcessId());
  EXPECT_EQ(second.holder_program, own_program());
  first.lock.reset();
  EXPECT_EQ(PoolLock::acquire(file).status, PoolLock::Status::kAcquired);
}

// Another process sees the pool held by this one, and takes it once this one lets go.
TEST(PoolLock, AnotherProcessLearnsWhoHoldsThePool) {
  test::TempDir dir;
  const std::string file = (dir / "pool.lock").string();
  {
    PoolLock::Result held = PoolLock::acquire(file);
    ASSERT_EQ(held.status, PoolLock::Status::kAcquired);
    EXPECT_EQ(run_self("PoolLockChild.SeesTheParentHoldingThePool", file), 0u);
  }
  EXPECT_EQ(run_self("PoolLockChild.TakesAFreePool", file), 0u);
}

TEST(PoolLock, ALockFileThatCannotBeMadeFails) {
  test::TempDir dir;
  PoolLock::Result result = PoolLock::acquire(dir / "no-such-folder" / "pool.lock");
  EXPECT_EQ(result.status, PoolLock::Status::kFailed);
  EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// The child's side of AnotherProcessLearnsWhoHoldsThePool; skipped when run on its own.
const char* child_lock_file() { return std::getenv("SKAV_POOL_LOCK_FILE"); }

TEST(PoolLockChild, SeesTheParentHoldingThePool) {
  if (child_lock_file() == nullptr) GTEST_SKIP() << "run by PoolLock.AnotherProcess...";
  PoolLock::Result result = PoolLock::acquire(child_lock_file());
  EXPECT_EQ(result.status, PoolLock::Status::kHeld);
  EXPECT_EQ(std::to_string(result.holder_pid), std::getenv("SKAV_POOL_LOCK_HOLDER"));
  EXPECT_EQ(result.holder_program, own_program());  // the same test program
}

TEST(PoolLockChild, TakesAFreePool) {
  if (child_lock_file() == nullptr) GTEST_SKIP() << "run by PoolLock.AnotherProcess...";
  EXPECT_EQ(PoolLock::acquire(child_lock_file()).status, PoolLock::Status::kAcquired);
}

}  // namespace
}  // namespace skav::windows

#include "windows/pool_lock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "self_process.h"
#include "support/temp_dir.h"

namespace skav::windows {
namespace {

std::vector<std::pair<std::string, std::string>> child_environment(const std::string& file) {
  return {{"SKAV_POOL_LOCK_FILE", file},
          {"SKAV_POOL_LOCK_HOLDER", std::to_string(GetCurrentProcessId())}};
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
  EXPECT_EQ(second.holder_program, test::own_program());
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
    EXPECT_EQ(test::run_self("PoolLockChild.SeesTheParentHoldingThePool", child_environment(file)),
              0u);
  }
  EXPECT_EQ(test::run_self("PoolLockChild.TakesAFreePool", child_environment(file)), 0u);
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
  EXPECT_EQ(result.holder_program, test::own_program());  // the same test program
}

TEST(PoolLockChild, TakesAFreePool) {
  if (child_lock_file() == nullptr) GTEST_SKIP() << "run by PoolLock.AnotherProcess...";
  EXPECT_EQ(PoolLock::acquire(child_lock_file()).status, PoolLock::Status::kAcquired);
}

}  // namespace
}  // namespace skav::windows

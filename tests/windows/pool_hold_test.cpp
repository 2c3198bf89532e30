// The address pool's hold on Windows: a lock on <store>.holder (LockFileEx on a byte far past
// the holder's record), refused to a second holder in this process or another one, with a
// message that names the holder, and free again once the holder lets go.

#include "core/settings/pool_hold.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "self_process.h"
#include "support/temp_dir.h"

namespace skav::settings {
namespace {

std::vector<std::pair<std::string, std::string>> child_environment(const std::string& store) {
  return {{"SKAV_POOL_STORE", store},
          {"SKAV_POOL_HOLDER", std::to_string(GetCurrentProcessId())}};
}

TEST(PoolHoldWindows, ASecondHolderIsRefusedWithTheFirstNamedUntilItLetsGo) {
  test::TempDir dir;
  const auto store = dir / "settings.reg";
  std::unique_ptr<PoolHold> first;
  ASSERT_TRUE(PoolHold::acquire(store, "skav run", first).ok());
  std::unique_ptr<PoolHold> second;
  Status refused = PoolHold::acquire(store, "skav-gui", second);
  EXPECT_FALSE(refused.ok());
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(refused.message().find("in use by skav run (process " +
                                   std::to_string(GetCurrentProcessId()) + ")"),
            std::string::npos)
      << refused.message();
  first.reset();
  EXPECT_TRUE(PoolHold::acquire(store, "skav-gui", second).ok());
}

// Another process sees the pool held by this one, and takes it once this one lets go.
TEST(PoolHoldWindows, AnotherProcessLearnsWhoHoldsThePool) {
  test::TempDir dir;
  const std::string store = (dir / "settings.reg").string();
  {
    std::unique_ptr<PoolHold> held;
    ASSERT_TRUE(PoolHold::acquire(store, "the parent", held).ok());
    EXPECT_EQ(test::run_self("PoolHoldChild.SeesTheParentHoldingThePool", child_environment(store)),
              0u);
  }
  EXPECT_EQ(test::run_self("PoolHoldChild.TakesAFreePool", child_environment(store)), 0u);
}

TEST(PoolHoldWindows, AHolderFileThatCannotBeMadeFails) {
  test::TempDir dir;
  // A folder in the holder file's place.
  std::filesystem::create_directories(dir / "settings.reg.holder");
  std::unique_ptr<PoolHold> hold;
  Status failed = PoolHold::acquire(dir / "settings.reg", "skav run", hold);
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(failed.message().find("in use"), std::string::npos) << failed.message();
}

// The child's side of AnotherProcessLearnsWhoHoldsThePool; skipped when run on its own.
const char* child_store() { return std::getenv("SKAV_POOL_STORE"); }

TEST(PoolHoldChild, SeesTheParentHoldingThePool) {
  if (child_store() == nullptr) GTEST_SKIP() << "run by PoolHoldWindows.AnotherProcess...";
  std::unique_ptr<PoolHold> hold;
  Status refused = PoolHold::acquire(child_store(), "the child", hold);
  EXPECT_FALSE(refused.ok());
  EXPECT_NE(refused.message().find(std::string("in use by the parent (process ") +
                                   std::getenv("SKAV_POOL_HOLDER") + ")"),
            std::string::npos)
      << refused.message();
}

TEST(PoolHoldChild, TakesAFreePool) {
  if (child_store() == nullptr) GTEST_SKIP() << "run by PoolHoldWindows.AnotherProcess...";
  std::unique_ptr<PoolHold> hold;
  EXPECT_TRUE(PoolHold::acquire(child_store(), "the child", hold).ok());
}

}  // namespace
}  // namespace skav::settings

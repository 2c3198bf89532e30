// Each test's stations get an address ledger of their own, so that a PC's ledger (made by the
// set-up as root) neither changes what a test's boards receive nor keeps its addresses.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "support/temp_dir.h"

namespace skav {
namespace {

class LedgerPerTest : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    folder_ = std::make_unique<test::TempDir>();
    ::setenv("SKAV_LEDGER", (*folder_ / "address-ledger.txt").c_str(), 1);
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    ::unsetenv("SKAV_LEDGER");
    folder_.reset();
  }
  std::unique_ptr<test::TempDir> folder_;
};

[[maybe_unused]] const bool kRegistered = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new LedgerPerTest);
  return true;
}();

}  // namespace
}  // namespace skav

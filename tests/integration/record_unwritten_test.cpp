// `skav run` that ends with a production record it could not write says so and fails.

#include <gtest/gtest.h>

#include <filesystem>

#include "support/run_program.h"
#include "support/temp_dir.h"

namespace skav {
namespace {

using namespace std::chrono_literals;

TEST(RecordUnwritten, SkavRunEndsNonZeroAndSaysWhichRecordWasNotWritten) {
  test::TempDir dir;
  dir.copy_from(std::filesystem::path(SKAV_SOURCE_DIR) / "examples");
  // A folder in the records file's place cannot be appended to, even by root.
  std::filesystem::create_directory(dir / "skav-records.csv");
  test::ProgramResult result =
      test::run_program({SKAV_BINARY, "run", "--simulate=1", "--boards", "1", "--no-barcode", "--settings",
                         (dir / "settings.reg").string(), "-C", dir.path().string()},
                        60s);
  ASSERT_FALSE(result.timed_out) << result.err;
  EXPECT_NE(result.exit_code, 0) << result.err;
  EXPECT_NE(result.out.find("Could not write the production record: "), std::string::npos) << result.out;
  EXPECT_EQ(result.err.find(" PASS "), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("1 STATION ERROR "), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("1 production record of sim0 not written"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace skav

// --boards over several ports: exactly that many boards are programmed, and none is cut off.

#include <gtest/gtest.h>

#include "support/rig.h"
#include "support/run_program.h"

namespace skav {
namespace {

TEST(BoardsOverPorts, TheLineProgramsExactlyTheBoardsAskedForAndStopsNoneMidRun) {
  test::TempDir work;
  work.copy_from(std::filesystem::path(SKAV_SOURCE_DIR) / "examples");
  test::ProgramResult run = test::run_program(
      {SKAV_BINARY, "run", "--simulate=5", "--ports", "2", "--boards", "3", "--no-barcode",
       "--settings", (work / "settings.reg").string(), "-C", work.path().string(), "--tick-ms", "1"},
      std::chrono::seconds(60));
  ASSERT_EQ(run.exit_code, 0) << run.err;
  std::vector<test::RecordLine> records = test::read_records(work / "skav-records.csv");
  ASSERT_EQ(records.size(), 3u) << test::read_file(work / "skav-records.csv");
  for (const test::RecordLine& record : records) EXPECT_EQ(record.verdict, "pass");
}

}  // namespace
}  // namespace skav

// `skav run` in a folder whose records file cannot be written takes no board: it says why on
// standard error, and ends unsuccessfully when stopped so.

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/run_program.h"
#include "support/temp_dir.h"

namespace skav {
namespace {

using namespace std::chrono_literals;

TEST(RecordUnwritten, SkavRunTakesNoBoardAndSaysWhichRecordsFileItCannotWrite) {
  test::TempDir dir;
  dir.copy_from(std::filesystem::path(SKAV_SOURCE_DIR) / "examples");
  // A folder in the records file's place cannot be appended to, even by root.
  std::filesystem::create_directory(dir / "skav-records.csv");
  const std::filesystem::path output = dir / "run.out";
  test::BackgroundProgram program({SKAV_BINARY, "run", "--simulate=1", "--boards", "1", "--no-barcode",
                                   "--settings", (dir / "settings.reg").string(), "-C", dir.path().string()},
                                  output.string());
  ASSERT_TRUE(program.started());
  const std::string fault = "STATION ERROR " + (dir / "skav-records.csv").string() + " cannot be written: ";
  std::string text;
  for (auto deadline = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < deadline;) {
    text = std::filesystem::exists(output) ? test::read_file(output) : std::string();
    if (text.find(fault) != std::string::npos) break;
    std::this_thread::sleep_for(50ms);
  }
  ASSERT_NE(text.find(fault), std::string::npos) << text;
  program.send(SIGINT);
  const int exit_code = program.wait(20s);
  text = test::read_file(output);
  EXPECT_NE(exit_code, 0) << text;
  EXPECT_EQ(text.find("Find the UBOOT CONFIG file"), std::string::npos) << "no board programmed: " << text;
  EXPECT_EQ(text.find(" PASS "), std::string::npos) << text;
}

}  // namespace
}  // namespace skav

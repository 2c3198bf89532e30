// Whole boards through the station: the log, the addresses, the records and what a front end
// is shown of a run.

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/rig.h"

namespace skav::station {
namespace {

using test::read_file;

std::string pass_of_one_board(const std::string& mac, const std::string& before_env = "") {
  std::string diag = read_file(std::filesystem::path(SKAV_SOURCE_DIR) / "examples/images/diag.txt");
  return "Waiting connecting to Target...\r\n"
         "Connected...\r\n" +
         before_env +
         "Find the UBOOT CONFIG file.....Success\r\n"
         "MAC Addr : " +
         mac +
         " Test...Pass\r\n"
         "Section begin: [kernel]\r\n"
         "Success\r\n"
         "Section begin: [uboot]\r\n"
         "Success\r\n"
         "Section begin: [filesystem]\r\n"
         "Success\r\n"
         "Find the diag..................Success\r\n" +
         diag;
}

// The example configuration keeps the environment in spi memory at 0x40000.
std::string environment_of(const sim::SimBoard& board) {
  std::vector<std::uint8_t> bytes = board.memory(2, 0x40000, 512);
  return std::string(bytes.begin(), bytes.end());
}

test::RigOptions first_start(int barcode) {
  test::RigOptions options;
  options.barcode = barcode;
  options.first_address = "";  // the first start's 001122334455
  return options;
}

TEST(ProductionRun, TwoBoardsGetConsecutiveAddressesAndTheLogIsExact) {
  test::StationRig rig(first_start(0));
  sim::BoardLine& line = rig.plug_line(sim::BoardOptions{}, 2);
  ASSERT_TRUE(rig.until_boards_done(2)) << rig.log_text();
  EXPECT_EQ(rig.log_text(), pass_of_one_board("001122334455") + pass_of_one_board("001122334456"));

  const sim::SimBoard* second = line.finished_board(1);
  ASSERT_NE(second, nullptr);
  std::string block = environment_of(*second);
  EXPECT_NE(block.find("ethaddr=00:11:22:33:44:56"), std::string::npos);
  EXPECT_NE(block.find("MAC0=00:11:22:33:44:56"), std::string::npos);
  std::string kernel = read_file(rig.dir / "images/kernel.bin");
  EXPECT_EQ(second->memory(1, 0x200000, static_cast<std::uint32_t>(kernel.size())),
            std::vector<std::uint8_t>(kernel.begin(), kernel.end()));
  EXPECT_EQ(rig.stored_address(), "001122334457");

  std::string records = read_file(rig.dir / kRecordsFile);
  EXPECT_EQ(records.rfind(records_header(), 0), 0u);
  EXPECT_NE(records.find(",sim0,02:00:00:00:00:01,00:11:22:33:44:55,pass,pass,pass,pass,pass,pass,"),
            std::string::npos)
      << records;
  EXPECT_NE(records.find(",sim0,02:00:00:00:00:02,00:11:22:33:44:56,pass,pass,pass,pass,pass,pass,"),
            std::string::npos)
      << records;
}

TEST(ProductionRun, BarcodeModeUsesTheTypedAddressAndStoresTheOneAfterIt) {
  test::StationRig rig(first_start(1));
  sim::BoardLine& line = rig.plug_line(sim::BoardOptions{}, 1);
  ASSERT_TRUE(rig.until_entry_pending()) << rig.log_text();
  rig.type("0A1B2C3D4E5\r");  // 11 characters: asked again
  EXPECT_TRUE(rig.station->entry_pending());
  rig.type("0A1B2C3D4E5Fx\b\r");
  ASSERT_TRUE(rig.until_boards_done(1)) << rig.log_text();
  EXPECT_EQ(rig.log_text(), pass_of_one_board("0A1B2C3D4E5F",
                                              "Input MAC Address : 0A1B2C3D4E5\r\n"
                                              "Input MAC Address : 0A1B2C3D4E5F\r\n"));
  EXPECT_NE(environment_of(*line.finished_board(0)).find("ethaddr=0A:1B:2C:3D:4E:5F"), std::string::npos);
  EXPECT_EQ(rig.stored_address(), "0A1B2C3D4E60");
}

TEST(ProductionRun, WithoutADiagnosticImageTheRunEndsWithSuccess) {
  test::StationRig rig(first_start(0));
  rig.dir.write("config.ini", "[kernel]\nFilename=images/kernel.bin\nMem_type=nand\nCommand=write\n"
                              "Mem_Dst_addr=0x1000\n");
  rig.plug_line(sim::BoardOptions{}, 1);
  ASSERT_TRUE(rig.until_boards_done(1)) << rig.log_text();
  EXPECT_EQ(rig.log_text(), "Waiting connecting to Target...\r\nConnected...\r\n"
                            "Section begin: [kernel]\r\nSuccess\r\nSuccess !!\r\n");
}

// What a front end sees of a run: the plan's steps, each running with its progress climbing a
// whole percent at a time to the whole, then done with its verdict; the board's address.
TEST(ProductionRun, SnapshotsShowEachStepAndItsProgress) {
  test::StationRig rig(first_start(0));
  // A 5 MB filesystem image: some 220 acknowledgement windows each way.
  constexpr std::uint32_t kSize = 5'000'000;
  {
    std::ofstream image(rig.dir / "images" / "rootfs.bin", std::ios::binary | std::ios::trunc);
    std::vector<char> bytes(kSize, '\x5a');
    image.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  rig.plug_line(sim::BoardOptions{}, 1);
  ASSERT_TRUE(rig.until_boards_done(1)) << rig.log_text();

  std::vector<std::uint64_t> done;
  bool ran = false;
  for (const auto& snapshot : rig.events.snapshots()) {
    if (!snapshot->board) continue;
    const StepView& step = snapshot->board->steps[static_cast<std::size_t>(StepSlot::kFilesystem)];
    if (step.state == StepView::State::kRunning && step.total > 0) {
      EXPECT_EQ(step.total, kSize);
      done.push_back(step.done);
      ran = true;
    }
  }
  ASSERT_TRUE(ran);
  // The write, then the read-back: each climbs (snapshots that came too close together show
  // only the latest), and no percent is shown twice.
  int phases = 1;
  for (std::size_t i = 1; i < done.size(); ++i) {
    if (done[i] < done[i - 1]) {
      ++phases;
      continue;
    }
    EXPECT_GT(done[i] * 100 / kSize, done[i - 1] * 100 / kSize) << i;
  }
  EXPECT_LE(phases, 2);
  EXPECT_LE(done.size(), 2u * 102u);

  std::shared_ptr<const StationSnapshot> last = rig.station->snapshot();
  ASSERT_TRUE(last->board);
  const BoardView& board = *last->board;
  EXPECT_EQ(board.number, 1);
  EXPECT_TRUE(board.finished);
  EXPECT_EQ(board.overall, Verdict::kPass);
  EXPECT_EQ(board.failure, "");
  EXPECT_EQ(MacDigits::text(board.address), "001122334455");
  for (const StepView& step : board.steps) {
    EXPECT_EQ(step.state, StepView::State::kDone) << step.name();
    EXPECT_EQ(step.verdict, Verdict::kPass) << step.name();
  }
  EXPECT_EQ(rig.events.records().size(), 1u);
}

// A step that fails names itself and why on the board's line, and the steps the run never
// reached say so.
TEST(ProductionRun, ASilentBoardShowsTheFailedStepAndTheStepsNeverReached) {
  test::RigOptions options = first_start(0);
  options.timeout = std::chrono::seconds(30);
  test::StationRig rig(std::move(options));
  sim::BoardOptions broken;
  broken.faults.silent_phase = sim::SilentPhase::kMidData;
  broken.faults.silent_exchange = 3;  // the kernel image
  rig.plug(broken);
  ASSERT_TRUE(rig.until_boards_done(1)) << rig.log_text();
  EXPECT_NE(rig.log_text().find("Section begin: [kernel]\r\nFail\r\nTarget not responding after 30 s\r\n"),
            std::string::npos);
  const BoardView& board = *rig.station->snapshot()->board;
  EXPECT_EQ(board.overall, Verdict::kTimeout);
  EXPECT_EQ(board.failure, "kernel: no answer after 30 s");
  EXPECT_EQ(board.steps[2].verdict, Verdict::kNotRun);
  EXPECT_EQ(board.steps[4].verdict, Verdict::kNotRun);
}

}  // namespace
}  // namespace skav::station

// Broken boards on the in-process link: whatever goes wrong, the run ends with a verdict and a
// record, the station searches again, and the next healthy board is programmed with the next
// address.

#include <gtest/gtest.h>

#include "core/link/in_memory.h"
#include "core/station/fault_harness.h"

namespace skav::station {
namespace {

using namespace std::chrono_literals;
using board::BoardFaults;
using board::SilentPhase;

using test::Expected;
using test::kAllPass;
using test::kBrokenMac;
using test::kEnvironmentTimeout;
using test::kEnvironmentTimeoutLog;
using test::kHealthyMac;
using test::kKernelTimeout;
using test::kKernelTimeoutLog;

class StationFaults : public ::testing::Test {
 protected:
  board::SimBoard* broken_then_healthy(const BoardFaults& faults, const Expected& expected,
                                       const std::string& log_fragment) {
    return bench_.broken_then_healthy(faults, expected, log_fragment);
  }
  void healthy_next() { bench_.healthy_next(); }
  void healthy_next_on_cable(board::SimBoard* board) { bench_.healthy_next(board); }
  void expect_distinct_addresses(const board::SimBoard& broken) {
    bench_.expect_distinct_addresses(broken);
  }

  link::InMemoryWire wire_;
  link::InMemoryBackend backend_{wire_};
  test::FaultRig rig_{backend_};
  test::BoardSocket socket_{wire_.board_end()};
  test::FaultBench bench_{rig_, socket_};
};

TEST_F(StationFaults, LostDataFrameOfAReadBackTimesOutThatSection) {
  BoardFaults faults;
  faults.lose_sent_data_frame = 3;  // the kernel read-back's second frame
  board::SimBoard* broken = broken_then_healthy(faults, kKernelTimeout, kKernelTimeoutLog);
  expect_distinct_addresses(*broken);
}

TEST_F(StationFaults, LostDataFrameOfAWriteTimesOutThatSection) {
  BoardFaults faults;
  faults.lose_received_data_frame = 5;  // the kernel image's fourth frame
  broken_then_healthy(faults, kKernelTimeout, kKernelTimeoutLog);
}

TEST_F(StationFaults, DuplicatedDataFrameOfAReadBackNeverPasses) {
  BoardFaults faults;
  faults.duplicate_data_frame = 3;
  bench_.plug_broken(faults);
  std::vector<test::RecordLine> records = rig_.records();
  ASSERT_EQ(records.size(), 1u);
  // Every chunk after the duplicate lands one place off: the kernel cannot verify.
  EXPECT_EQ(records[0].environment, "pass");
  EXPECT_NE(records[0].kernel, "pass");
  EXPECT_NE(records[0].verdict, "pass");
  healthy_next();
}

TEST_F(StationFaults, LostAcknowledgementOfTheEnvironmentTimesOutTheRun) {
  BoardFaults faults;
  faults.lose_ack = 3;  // the read-back header of the environment
  board::SimBoard* broken =
      broken_then_healthy(faults, kEnvironmentTimeout, kEnvironmentTimeoutLog);
  // The board took the whole environment before it fell silent: its address is used up.
  EXPECT_EQ(test::ethaddr_of(*broken), test::written_address(0));
  expect_distinct_addresses(*broken);
}

TEST_F(StationFaults, OversizedAcknowledgementsAreTakenAndTheBoardPasses) {
  BoardFaults faults;
  faults.ack_style = board::AckStyle::kOversized;
  board::SimBoard* broken = broken_then_healthy(
      faults, kAllPass, "Test...Pass\r\n");
  test::expect_programmed(rig_, *broken, test::written_address(0));
}

TEST_F(StationFaults, RandomPayloadsWhereNothingIsReadStillPass) {
  BoardFaults faults;
  faults.random_payloads = true;
  board::SimBoard* broken =
      broken_then_healthy(faults, kAllPass, "Success\r\n");
  test::expect_programmed(rig_, *broken, test::written_address(0));
}

TEST_F(StationFaults, StrayDiscoveryRepliesDuringTransfersAreSkipped) {
  BoardFaults faults;
  faults.foreign_frames = true;
  faults.foreign_ether_type = link::kEtherReply;
  faults.random_payloads = true;
  board::SimBoard* broken =
      broken_then_healthy(faults, kAllPass, "Success\r\n");
  test::expect_programmed(rig_, *broken, test::written_address(0));
}

TEST_F(StationFaults, StrayTargetDataFramesWithRandomPayloadsNeverPass) {
  BoardFaults faults;
  faults.foreign_frames = true;
  faults.foreign_ether_type = link::kEtherTargetData;
  faults.random_payloads = true;
  bench_.plug_broken(faults);
  std::vector<test::RecordLine> records = rig_.records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_NE(records[0].environment, "pass");
  EXPECT_NE(records[0].verdict, "pass");
  healthy_next();
}

TEST_F(StationFaults, SilenceAfterTheCommandHeaderTimesOutThatSection) {
  BoardFaults faults;
  faults.silent_phase = SilentPhase::kAfterHeader;
  faults.silent_exchange = 3;
  broken_then_healthy(faults, kKernelTimeout, kKernelTimeoutLog);
}

TEST_F(StationFaults, SilenceMidDataPhaseTimesOutThatSection) {
  BoardFaults faults;
  faults.silent_phase = SilentPhase::kMidData;
  faults.silent_exchange = 7;  // the filesystem image
  broken_then_healthy(faults, {"pass", "pass", "pass", "timeout", "skipped", "timeout"},
                      "Section begin: [filesystem]\r\nFail\r\nTarget not responding after 1 s\r\n");
}

TEST_F(StationFaults, SilenceBeforeTheEnvironmentsStatusNeverGivesItsAddressTwice) {
  BoardFaults faults;
  faults.silent_phase = SilentPhase::kBeforeStatus;
  faults.silent_exchange = 1;
  board::SimBoard* broken =
      broken_then_healthy(faults, kEnvironmentTimeout, kEnvironmentTimeoutLog);
  EXPECT_EQ(test::ethaddr_of(*broken), test::written_address(0));
  expect_distinct_addresses(*broken);
}

TEST_F(StationFaults, SilenceBeforeAReadBackStatusTimesOutThatSection) {
  BoardFaults faults;
  faults.silent_phase = SilentPhase::kBeforeStatus;
  faults.silent_exchange = 4;  // the kernel read-back
  broken_then_healthy(faults, kKernelTimeout, kKernelTimeoutLog);
}

TEST_F(StationFaults, DiagnosticImageThatNeverAnswersTimesOut) {
  BoardFaults faults;
  faults.silent_phase = SilentPhase::kAfterDiagStart;
  broken_then_healthy(faults, {"pass", "pass", "pass", "pass", "timeout", "timeout"},
                      "Find the diag..................Success\r\nFail\r\n"
                      "Target not responding after 1 s\r\n");
}

TEST_F(StationFaults, DiagnosticTextThatStopsMidwayTimesOut) {
  BoardFaults faults;
  faults.silent_phase = SilentPhase::kMidDiagText;
  std::string diag = test::read_file(rig_.dir_ / "images/diag.txt");
  board::SimBoard* broken =
      broken_then_healthy(faults, {"pass", "pass", "pass", "pass", "timeout", "timeout"},
                          "Fail\r\nTarget not responding after 1 s\r\n");
  EXPECT_EQ(broken->stats().text_blocks, 1);
  // The first block reached the log before the silence.
  EXPECT_NE(rig_.log_.text().find(diag.substr(0, 40)), std::string::npos);
}

TEST_F(StationFaults, EnvironmentReadBackReportingFailureNeverGivesItsAddressTwice) {
  BoardFaults faults;
  faults.fail_status = 2;  // the environment's read-back
  board::SimBoard* broken = broken_then_healthy(
      faults, {"fail", "pass", "pass", "pass", "pass", "fail"},
      "Find the UBOOT CONFIG file.....Fail\r\nSection begin: [kernel]\r\n");
  EXPECT_EQ(test::ethaddr_of(*broken), test::written_address(0));
  expect_distinct_addresses(*broken);
}

TEST_F(StationFaults, CorruptedReadBackFailsOnlyItsSection) {
  BoardFaults faults;
  faults.corrupt_read = 2;  // the kernel read-back
  broken_then_healthy(faults, {"pass", "fail", "pass", "pass", "pass", "fail"},
                      "Section begin: [kernel]\r\nFail\r\nSection begin: [uboot]\r\n");
}

TEST_F(StationFaults, CablePulledMidTransferTimesOut) {
  BoardFaults faults;
  faults.silent_after_received = 20;  // inside the kernel image
  broken_then_healthy(faults, kKernelTimeout, kKernelTimeoutLog);
}

TEST_F(StationFaults, BoardReplacedMidRunEndsThatRunAndTheNewBoardIsProgrammed) {
  board::BoardOptions first;
  first.mac = kBrokenMac;
  board::SimBoard* broken = socket_.plug(&first);
  // Right after the kernel's read-back, before the uboot section, another board takes the
  // cable. Its answers are not the first board's: that run ends as a timeout.
  board::BoardOptions second;
  second.mac = kHealthyMac;
  socket_.replace_when([](const board::SimBoard& b) { return b.stats().exchanges >= 4; }, second);
  ASSERT_TRUE(rig_.tick_until_done(1)) << rig_.log_.text();
  bench_.check_broken_record(
      {"pass", "pass", "timeout", "skipped", "skipped", "timeout"},
      "Section begin: [uboot]\r\nFail\r\nTarget not responding after 1 s\r\n");
  // The board now on the cable is found and programmed as a board of its own.
  board::SimBoard* replacement = socket_.current();
  ASSERT_NE(replacement, broken);
  healthy_next_on_cable(replacement);
  expect_distinct_addresses(*broken);
}

}  // namespace
}  // namespace skav::station

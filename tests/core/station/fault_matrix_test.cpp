// Broken boards: whatever goes wrong, the run ends with a verdict and a record, the station
// searches again, and the next healthy board is programmed with the next address. Every case
// runs over the direct cable on the test's clock; a few run again over the real libpcap link.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/netns.h"
#include "support/rig.h"

namespace skav::station {
namespace {

using sim::AckStyle;
using sim::BoardFaults;
using sim::SilentPhase;

constexpr link::Mac kBrokenMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr link::Mac kHealthyMac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02};

// The broken board's record: environment, kernel, uboot, filesystem, diag, verdict. "!pass"
// stands for anything but pass, "*" for anything.
struct Expected {
  const char* environment;
  const char* kernel;
  const char* uboot;
  const char* filesystem;
  const char* diag;
  const char* verdict;
};

constexpr Expected kKernelTimeout = {"pass", "timeout", "not-run", "not-run", "not-run", "timeout"};
constexpr Expected kEnvironmentTimeout = {"timeout", "not-run", "not-run",
                                          "not-run", "not-run", "timeout"};
constexpr Expected kAllPass = {"pass", "pass", "pass", "pass", "pass", "pass"};
constexpr const char* kKernelTimeoutLog =
    "Section begin: [kernel]\r\nFail\r\nTarget not responding after 1 s\r\n";
constexpr const char* kEnvironmentTimeoutLog =
    "Find the UBOOT CONFIG file.....Fail\r\nTarget not responding after 1 s\r\n";

struct FaultCase {
  const char* name;
  BoardFaults faults;
  Expected expected;
  const char* log;               // in the broken board's run
  bool address_taken = false;    // the broken board holds the first address
  bool programmed = false;       // the broken board holds everything the configuration names
};

BoardFaults with(void (*set)(BoardFaults&)) {
  BoardFaults faults;
  set(faults);
  return faults;
}

const std::vector<FaultCase>& all_cases() {
  static const std::vector<FaultCase> cases = {
      {"LostDataFrameOfAReadBack", with([](BoardFaults& f) { f.lose_sent_data_frame = 3; }),
       kKernelTimeout, kKernelTimeoutLog, true},
      {"LostDataFrameOfAWrite", with([](BoardFaults& f) { f.lose_received_data_frame = 5; }),
       kKernelTimeout, kKernelTimeoutLog, true},
      // Every chunk after the duplicate lands one place off: the kernel cannot verify.
      {"DuplicatedDataFrameOfAReadBack", with([](BoardFaults& f) { f.duplicate_data_frame = 3; }),
       {"pass", "!pass", "*", "*", "*", "!pass"}, "Section begin: [kernel]\r\n", true},
      // The read-back header of the environment: the board took the whole environment first.
      {"LostAcknowledgementOfTheEnvironment", with([](BoardFaults& f) { f.lose_ack = 3; }),
       kEnvironmentTimeout, kEnvironmentTimeoutLog, true},
      {"OversizedAcknowledgements", with([](BoardFaults& f) { f.ack_style = AckStyle::kOversized; }),
       kAllPass, "Test...Pass\r\n", true, true},
      {"RandomPayloadsWhereNothingIsRead", with([](BoardFaults& f) { f.random_payloads = true; }),
       kAllPass, "Success\r\n", true, true},
      {"StrayDiscoveryRepliesDuringTransfers", with([](BoardFaults& f) {
         f.foreign_frames = true;
         f.foreign_ether_type = link::kEtherReply;
         f.random_payloads = true;
         f.ack_style = AckStyle::kOversized;
       }),
       kAllPass, "Test...Pass\r\n", true, true},
      {"StrayTargetDataFramesWithRandomPayloads", with([](BoardFaults& f) {
         f.foreign_frames = true;
         f.foreign_ether_type = link::kEtherTargetData;
         f.random_payloads = true;
       }),
       {"!pass", "!pass", "!pass", "!pass", "!pass", "!pass"}, "", false},
      {"SilenceAfterTheCommandHeader", with([](BoardFaults& f) {
         f.silent_phase = SilentPhase::kAfterHeader;
         f.silent_exchange = 3;
       }),
       kKernelTimeout, kKernelTimeoutLog, true},
      {"SilenceMidDataPhase", with([](BoardFaults& f) {
         f.silent_phase = SilentPhase::kMidData;
         f.silent_exchange = 7;  // the filesystem image
       }),
       {"pass", "pass", "pass", "timeout", "not-run", "timeout"},
       "Section begin: [filesystem]\r\nFail\r\nTarget not responding after 1 s\r\n", true},
      {"SilenceBeforeTheEnvironmentsStatus", with([](BoardFaults& f) {
         f.silent_phase = SilentPhase::kBeforeStatus;
         f.silent_exchange = 1;
       }),
       kEnvironmentTimeout, kEnvironmentTimeoutLog, true},
      {"SilenceBeforeAReadBackStatus", with([](BoardFaults& f) {
         f.silent_phase = SilentPhase::kBeforeStatus;
         f.silent_exchange = 4;  // the kernel read-back
       }),
       kKernelTimeout, kKernelTimeoutLog, true},
      {"DiagnosticImageThatNeverAnswers",
       with([](BoardFaults& f) { f.silent_phase = SilentPhase::kAfterDiagStart; }),
       {"pass", "pass", "pass", "pass", "timeout", "timeout"},
       "Find the diag..................Success\r\nFail\r\nTarget not responding after 1 s\r\n",
       true},
      // The first block reaches the log before the silence.
      {"DiagnosticTextThatStopsMidway",
       with([](BoardFaults& f) { f.silent_phase = SilentPhase::kMidDiagText; }),
       {"pass", "pass", "pass", "pass", "timeout", "timeout"},
       "Find the diag..................Success\r\nSKAV board diagnostics 1.0\r\n", true},
      {"EnvironmentReadBackReportingFailure", with([](BoardFaults& f) { f.fail_status = 2; }),
       {"fail", "pass", "pass", "pass", "pass", "fail"},
       "Find the UBOOT CONFIG file.....Fail\r\nSection begin: [kernel]\r\n", true},
      {"CorruptedReadBackFailsOnlyItsSection", with([](BoardFaults& f) { f.corrupt_read = 2; }),
       {"pass", "fail", "pass", "pass", "pass", "fail"},
       "Section begin: [kernel]\r\nFail\r\nSection begin: [uboot]\r\n", true},
      {"CablePulledMidTransfer", with([](BoardFaults& f) { f.silent_after_received = 20; }),
       kKernelTimeout, kKernelTimeoutLog, true},
  };
  return cases;
}

std::vector<FaultCase> some_cases(const std::vector<std::string>& names) {
  std::vector<FaultCase> out;
  for (const FaultCase& c : all_cases())
    for (const std::string& name : names)
      if (name == c.name) out.push_back(c);
  return out;
}

enum class CableKind { kDirect, kVeth };

struct FaultParam {
  CableKind cable;
  FaultCase fault;
};

std::string param_name(const ::testing::TestParamInfo<FaultParam>& info) {
  return std::string(info.param.cable == CableKind::kDirect ? "Direct_" : "Pcap_") + info.param.fault.name;
}

void expect_field(const std::string& actual, const char* expected, const char* field) {
  if (std::string(expected) == "*") return;
  if (std::string(expected) == "!pass") {
    EXPECT_NE(actual, "pass") << field;
  } else {
    EXPECT_EQ(actual, expected) << field;
  }
}

class StationFaults : public ::testing::TestWithParam<FaultParam> {
 protected:
  // The rig over the parameter's cable, with a one-second transfer time-out; null (and the
  // test skipped) where the real link cannot be had.
  std::unique_ptr<test::StationRig> make_rig() {
    test::RigOptions options;
    options.timeout = std::chrono::seconds(1);
    if (GetParam().cable == CableKind::kVeth) {
      std::string error = test::enter_private_veth_namespace();
      if (!error.empty()) return nullptr;
      options.cable = test::veth_cable();
      if (!options.cable) return nullptr;
    }
    return std::make_unique<test::StationRig>(std::move(options));
  }

  // The cable now leads to a healthy board: it gets the next address and everything the
  // configuration names, and the station searches again afterwards.
  void healthy_next(test::StationRig& rig, sim::SimBoard* healthy) {
    std::size_t log_before = rig.log_text().size();
    ASSERT_TRUE(rig.until_boards_done(2)) << rig.log_text();
    std::string run = rig.log_text().substr(log_before);
    EXPECT_NE(run.find("MAC Addr : 0200000A0001 Test...Pass\r\n"), std::string::npos) << run;
    EXPECT_EQ(run.find("Fail"), std::string::npos) << run;

    std::vector<test::RecordLine> records = rig.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].board_mac, "02:00:00:00:00:02");
    EXPECT_EQ(records[1].written_mac, test::written_address(1));
    EXPECT_EQ(records[1].verdict, "pass");
    expect_programmed(rig, *healthy, test::written_address(1));
    EXPECT_EQ(rig.stored_address(), "0200000A0002");

    // Back to searching: the tick after Idle announces it, the next one probes.
    rig.station->step();
    rig.station->step();
    EXPECT_EQ(rig.station->state(), StationState::kSearching);
    EXPECT_EQ(rig.station->run_status(), RunStatus::kNoRun);
  }

  // The board holds exactly what the example configuration programs.
  static void expect_programmed(test::StationRig& rig, const sim::SimBoard& board,
                                const std::string& address) {
    EXPECT_EQ(test::ethaddr_of(board), address);
    struct Image {
      const char* file;
      std::uint8_t memory;
      std::uint32_t address;
    };
    for (const Image& image : {Image{"images/kernel.bin", 1, 0x200000}, Image{"images/uboot.bin", 2, 0x0},
                               Image{"images/rootfs.bin", 1, 0x1000000}}) {
      std::vector<std::uint8_t> expected = rig.file(image.file);
      EXPECT_TRUE(board.memory(image.memory, image.address,
                               static_cast<std::uint32_t>(expected.size())) == expected)
          << image.file;
    }
    EXPECT_TRUE(board.diag_image() == rig.file("images/diag.txt"));
  }
};

TEST_P(StationFaults, TheRunEndsWithItsVerdictAndTheNextBoardGetsTheNextAddress) {
  std::unique_ptr<test::StationRig> rig = make_rig();
  if (!rig) GTEST_SKIP() << "needs a private network namespace with a veth pair (run as root)";
  const FaultCase& fault = GetParam().fault;
  sim::BoardOptions broken_options;
  broken_options.mac = kBrokenMac;
  broken_options.faults = fault.faults;
  sim::SimBoard* broken = rig->plug(broken_options);
  ASSERT_TRUE(rig->until_boards_done(1)) << rig->log_text();

  std::vector<test::RecordLine> records = rig->records();
  ASSERT_EQ(records.size(), 1u) << test::read_file(rig->dir / kRecordsFile);
  const test::RecordLine& r = records[0];
  EXPECT_EQ(r.board_mac, "02:00:00:00:00:01");
  EXPECT_EQ(r.written_mac, test::written_address(0));
  expect_field(r.environment, fault.expected.environment, "environment");
  expect_field(r.kernel, fault.expected.kernel, "kernel");
  expect_field(r.uboot, fault.expected.uboot, "uboot");
  expect_field(r.filesystem, fault.expected.filesystem, "filesystem");
  expect_field(r.diag, fault.expected.diag, "diag");
  expect_field(r.verdict, fault.expected.verdict, "verdict");
  EXPECT_NE(rig->log_text().find(fault.log), std::string::npos) << rig->log_text();
  // An address that reached a board is used up, whatever the run ended in.
  if (fault.address_taken) {
    EXPECT_EQ(test::ethaddr_of(*broken), test::written_address(0));
  }
  if (fault.programmed) expect_programmed(*rig, *broken, test::written_address(0));

  sim::BoardOptions healthy_options;
  healthy_options.mac = kHealthyMac;
  healthy_next(*rig, rig->plug(healthy_options));
}

INSTANTIATE_TEST_SUITE_P(Direct, StationFaults,
                         ::testing::ValuesIn([] {
                           std::vector<FaultParam> params;
                           for (const FaultCase& c : all_cases()) params.push_back({CableKind::kDirect, c});
                           return params;
                         }()),
                         param_name);

INSTANTIATE_TEST_SUITE_P(Pcap, StationFaults,
                         ::testing::ValuesIn([] {
                           std::vector<FaultParam> params;
                           for (const FaultCase& c :
                                some_cases({"SilenceMidDataPhase", "SilenceBeforeTheEnvironmentsStatus",
                                            "CorruptedReadBackFailsOnlyItsSection",
                                            "StrayDiscoveryRepliesDuringTransfers"}))
                             params.push_back({CableKind::kVeth, c});
                           return params;
                         }()),
                         param_name);

// Right after the kernel's read-back, before the uboot section, another board takes the cable.
// Its answers are not the first board's: that run ends as a timeout, and the board now on the
// cable is found and programmed as a board of its own.
TEST(StationFaultsReplaced, BoardReplacedMidRunEndsThatRunAndTheNewBoardIsProgrammed) {
  test::RigOptions options;
  options.timeout = std::chrono::seconds(1);
  test::StationRig rig(std::move(options));
  sim::BoardOptions first_options;
  first_options.mac = kBrokenMac;
  sim::BoardOptions second_options;
  second_options.mac = kHealthyMac;
  sim::SimBoard* first = rig.make_board(first_options);
  sim::SimBoard* second = rig.make_board(second_options);
  sim::SimBoard* current = first;
  rig.set_peer([&current, first, second](const std::uint8_t* frame, std::size_t length) {
    current->handle_frame(frame, length);
    if (current == first && first->stats().exchanges >= 4) current = second;
  });
  ASSERT_TRUE(rig.until_boards_done(1)) << rig.log_text();
  std::vector<test::RecordLine> records = rig.records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].kernel, "pass");
  EXPECT_EQ(records[0].uboot, "timeout");
  EXPECT_EQ(records[0].filesystem, "not-run");
  EXPECT_NE(rig.log_text().find("Section begin: [uboot]\r\nFail\r\nTarget not responding after 1 s\r\n"),
            std::string::npos);
  ASSERT_TRUE(rig.until_boards_done(2)) << rig.log_text();
  EXPECT_EQ(test::ethaddr_of(*second), test::written_address(1));
  EXPECT_EQ(test::ethaddr_of(*first), test::written_address(0));
}

}  // namespace
}  // namespace skav::station

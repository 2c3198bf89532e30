// A few broken boards of the fault matrix again, over the real libpcap link in a private
// namespace: the same verdicts, records and next healthy board as over the in-process link.

#include <gtest/gtest.h>

#include "core/station/fault_harness.h"
#include "pcap/pcap_backend.h"
#include "support/netns.h"

namespace skav {
namespace {

using board::BoardFaults;
using board::SilentPhase;

// The station on skav0, the boards on skav1. Made after the namespace exists.
struct PcapBench {
  PcapBench() : board_end(backend.open_for_board("skav1")) {}
  pcap::PcapBackend backend;
  link::OpenResult board_end;
  std::unique_ptr<test::FaultRig> rig;
  std::unique_ptr<test::BoardSocket> socket;
  std::unique_ptr<test::FaultBench> bench;

  bool ready() {
    if (!board_end.device) return false;
    rig = std::make_unique<test::FaultRig>(backend, "skav0");
    if (!rig->station_->link().is_open()) return false;
    socket = std::make_unique<test::BoardSocket>(*board_end.device);
    bench = std::make_unique<test::FaultBench>(*rig, *socket);
    return true;
  }
  ~PcapBench() {
    bench.reset();
    socket.reset();  // stops serving before the station and the devices go
    rig.reset();
  }
};

TEST(StationFaultsOverPcap, SilenceMidDataPhaseTimesOutThatSection) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  PcapBench pcap;
  ASSERT_TRUE(pcap.ready()) << pcap.board_end.error;
  BoardFaults faults;
  faults.silent_phase = SilentPhase::kMidData;
  faults.silent_exchange = 3;
  pcap.bench->broken_then_healthy(faults, test::kKernelTimeout, test::kKernelTimeoutLog);
}

TEST(StationFaultsOverPcap, SilenceBeforeTheEnvironmentsStatusNeverGivesItsAddressTwice) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  PcapBench pcap;
  ASSERT_TRUE(pcap.ready()) << pcap.board_end.error;
  BoardFaults faults;
  faults.silent_phase = SilentPhase::kBeforeStatus;
  faults.silent_exchange = 1;
  board::SimBoard* broken = pcap.bench->broken_then_healthy(faults, test::kEnvironmentTimeout,
                                                            test::kEnvironmentTimeoutLog);
  EXPECT_EQ(test::ethaddr_of(*broken), test::written_address(0));
  pcap.bench->expect_distinct_addresses(*broken);
}

TEST(StationFaultsOverPcap, CorruptedReadBackFailsOnlyItsSection) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  PcapBench pcap;
  ASSERT_TRUE(pcap.ready()) << pcap.board_end.error;
  BoardFaults faults;
  faults.corrupt_read = 2;
  pcap.bench->broken_then_healthy(faults, {"pass", "fail", "pass", "pass", "pass", "fail"},
                                  "Section begin: [kernel]\r\nFail\r\nSection begin: [uboot]\r\n");
}

TEST(StationFaultsOverPcap, RandomPayloadsAndStrayRepliesStillPass) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  PcapBench pcap;
  ASSERT_TRUE(pcap.ready()) << pcap.board_end.error;
  BoardFaults faults;
  faults.random_payloads = true;
  faults.foreign_frames = true;
  faults.foreign_ether_type = link::kEtherReply;
  faults.ack_style = board::AckStyle::kOversized;
  board::SimBoard* broken =
      pcap.bench->broken_then_healthy(faults, test::kAllPass, "Test...Pass\r\n");
  test::expect_programmed(*pcap.rig, *broken, test::written_address(0));
}

}  // namespace
}  // namespace skav

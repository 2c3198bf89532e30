#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "sim/sim_board.h"
#include "core/link/discovery.h"
#include "core/link/link.h"
#include "backends/pcap/pcap_backend.h"
#include "support/netns.h"

namespace skav {
namespace {

TEST(PcapLink, DiscoversTheSimulatedBoardOverAVethPair) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  pcap::PcapBackend backend;
  auto board_device = backend.open_for_board("skav1");
  ASSERT_TRUE(board_device.device) << board_device.error;
  sim::BoardOptions options;
  options.mac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x07};
  sim::SimBoard board(*board_device.device, options);
  std::atomic<bool> stop{false};
  std::thread board_thread([&] { board.run(stop); });

  StringLog log;
  link::Link station(backend);
  link::AdapterList list;
  station.enumerate_adapters(&log, list);
  int number = list.number_of("skav0");
  ASSERT_GT(number, 0);
  ASSERT_EQ(station.open_adapter(&log, number), 1) << log.text();
  int found = 0;
  for (int attempt = 0; attempt < 50 && !found; ++attempt) found = link::find_target(station);
  stop = true;
  board_thread.join();
  ASSERT_EQ(found, 1);
  EXPECT_EQ(link::format_mac(station.target_mac()), "02:00:00:00:00:07");
  EXPECT_EQ(log.text(), "");
}

}  // namespace
}  // namespace skav

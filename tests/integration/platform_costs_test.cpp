#include "bench/platform_costs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/packet_socket.h"
#include "pcap/pcap_backend.h"
#include "support/netns.h"

namespace skav {
namespace {

// The probe on the pair prices each event; with an end missing it says which, instead of
// timing sends that reached nobody (a floor too low to read the station against).
TEST(PlatformCosts, PricesEveryEventOnThePairAndNamesAMissingEnd) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  bench::PlatformCosts costs = bench::measure_platform_costs("skav0", "skav1");
  ASSERT_EQ(costs.error, "");
  for (double us : {costs.send_window_us, costs.send_ack_us, costs.woken_wait_us,
                    costs.timed_wait_us})
    EXPECT_GT(us, 0.0);
  EXPECT_GT(costs.floor_ms_per_mb(), 0.0);

  struct Case {
    const char* station_end;
    const char* board_end;
    const char* named;
  };
  for (const Case& c : {Case{"skav0", "skav-none", "skav-none"},
                        Case{"skav-none", "skav1", "skav-none"}}) {
    bench::PlatformCosts missing = bench::measure_platform_costs(c.station_end, c.board_end);
    EXPECT_NE(missing.error.find(c.named), std::string::npos)
        << c.station_end << " - " << c.board_end << ": " << missing.error;
  }
}

// The bench's board end on its plain socket: only the board's EtherTypes reach it, whole and in
// order, more than one fetch's worth at a time, each with the kernel's receive stamp; its window
// reaches the station as the station's own libpcap device sees frames.
TEST(PacketSocketDevice, TakesTheBoardsFramesInOrderWithStampsAndSendsWindows) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  link::OpenResult board = bench::open_board_end("skav1");
  ASSERT_TRUE(board.device) << board.error;
  pcap::PcapBackend backend;
  link::OpenResult station = backend.open("skav0");
  ASSERT_TRUE(station.device) << station.error;

  std::uint8_t header[link::kEthernetHeader];
  constexpr std::size_t kFrames = 40;  // two and a half fetches
  std::vector<std::vector<std::uint8_t>> payloads;
  std::vector<const std::uint8_t*> pointers;
  std::vector<std::size_t> lengths;
  for (std::size_t i = 0; i < kFrames; ++i) {
    payloads.emplace_back(1408 - i, static_cast<std::uint8_t>(i));
    pointers.push_back(payloads.back().data());
    lengths.push_back(payloads.back().size());
  }
  const link::Mac source = {0x02, 0, 0, 0, 0, 0x01};
  // A foreign frame and a target data frame (the board's own kind) first: neither is taken.
  for (std::uint16_t type : {std::uint16_t{0x0800}, link::kEtherTargetData}) {
    link::write_header(header, link::kBroadcast, source, type);
    ASSERT_EQ(station.device->send_frames(header, pointers.data(), lengths.data(), 1), 1u);
  }
  link::write_header(header, link::kBroadcast, source, link::kEtherHostData);
  ASSERT_EQ(station.device->send_frames(header, pointers.data(), lengths.data(), kFrames), kFrames);

  const auto before = std::chrono::system_clock::now() - std::chrono::seconds(5);
  for (std::size_t i = 0; i < kFrames; ++i) {
    const std::uint8_t* frame = nullptr;
    int length = board.device->receive(&frame, std::chrono::milliseconds(1000));
    ASSERT_EQ(length, static_cast<int>(link::kEthernetHeader + lengths[i])) << "frame " << i;
    EXPECT_EQ(link::ether_type(frame), link::kEtherHostData);
    EXPECT_EQ(std::vector<std::uint8_t>(frame + link::kEthernetHeader, frame + length),
              payloads[i]) << "frame " << i;
    auto stamp = board.device->last_receive_stamp();
    ASSERT_TRUE(stamp.has_value());
    EXPECT_GT(*stamp, before);
    EXPECT_LE(*stamp, std::chrono::system_clock::now());
  }
  const std::uint8_t* frame = nullptr;
  EXPECT_EQ(board.device->receive(&frame, std::chrono::milliseconds(50)), 0);

  link::write_header(header, link::kBroadcast, source, link::kEtherTargetData);
  ASSERT_EQ(board.device->send_frames(header, pointers.data(), lengths.data(), 16), 16u);
  for (std::size_t i = 0; i < 16; ++i) {
    int length = station.device->receive(&frame, std::chrono::milliseconds(1000));
    ASSERT_EQ(length, static_cast<int>(link::kEthernetHeader + lengths[i])) << "frame " << i;
    EXPECT_EQ(frame[link::kEthernetHeader], static_cast<std::uint8_t>(i));
  }

  link::OpenResult missing = bench::open_board_end("skav-none");
  EXPECT_FALSE(missing.device);
  EXPECT_NE(missing.error.find("skav-none"), std::string::npos) << missing.error;
}

}  // namespace
}  // namespace skav

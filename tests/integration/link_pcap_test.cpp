#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "core/link/link.h"
#include "core/link/mac.h"
#include "core/log.h"
#include "backends/pcap/pcap_backend.h"
#include "support/netns.h"
#include "support/run_program.h"

namespace skav {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes data_frame(std::uint16_t ether_type, const Bytes& payload) {
  Bytes frame(link::kEthernetHeader + payload.size());
  const std::uint8_t header[] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02, 0, 0, 0, 0, 0x07,
                                 static_cast<std::uint8_t>(ether_type >> 8),
                                 static_cast<std::uint8_t>(ether_type & 0xff)};
  std::copy(std::begin(header), std::end(header), frame.begin());
  std::copy(payload.begin(), payload.end(), frame.begin() + link::kEthernetHeader);
  return frame;
}

Bytes pattern(std::size_t length, std::uint8_t seed) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
  return bytes;
}

// The interface's address as `ip` reports it ("link/ether 62:0a:..."); empty if unknown.
std::string ip_link_address(const std::string& interface_name) {
  const char* ip = access("/usr/sbin/ip", X_OK) == 0 ? "/usr/sbin/ip" : "/sbin/ip";
  test::ProgramResult result =
      test::run_program({ip, "-o", "link", "show", interface_name}, std::chrono::seconds(10));
  std::size_t at = result.out.find("link/ether ");
  if (result.exit_code != 0 || at == std::string::npos) return {};
  return result.out.substr(at + 11, 17);
}

// The station's Link on skav0 and a raw board-side device on skav1.
class PcapLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKAV_REQUIRE_VETH_NAMESPACE();
    board_ = backend_.open_for_board("skav1");
    ASSERT_TRUE(board_.device) << board_.error;
    link::AdapterList list;
    station_.enumerate_adapters(&log_, list);
    int number = list.number_of("skav0");
    ASSERT_GT(number, 0);
    ASSERT_EQ(station_.open_adapter(&log_, number), 1) << log_.text();
    station_.set_target_mac({0x02, 0, 0, 0, 0, 0x07});
  }

  // Takes the next frame at the board, trying for at most 100 read time-outs.
  Bytes board_take() {
    for (int call = 0; call < 100; ++call) {
      const std::uint8_t* frame = nullptr;
      int length = board_.device->receive(&frame, link::kReadTimeout);
      if (length > 0) return Bytes(frame, frame + length);
    }
    return {};
  }

  // The next accepted station receive; foreign results are collected in `other`.
  int station_take(Bytes& buffer, std::vector<int>& other) {
    buffer.assign(link::kMaxPayload, 0);
    for (int call = 0; call < 100; ++call) {
      int result = station_.receive_data_frame(buffer.data(), link::kMaxPayload);
      if (result > 0) return result;
      if (result != 0) other.push_back(result);
    }
    return 0;
  }

  pcap::PcapBackend backend_;
  link::OpenResult board_;
  StringLog log_;
  link::Link station_{backend_};
};

TEST_F(PcapLinkTest, DataFramesReachTheBoardWholeWithTheAdaptersOwnAddress) {
  EXPECT_EQ(link::format_mac(station_.host_mac()), ip_link_address("skav0"));
  const Bytes payload = pattern(1500, 3);
  ASSERT_EQ(station_.send_data_frame(payload.data(), 1500), 0);
  Bytes frame = board_take();
  ASSERT_EQ(frame.size(), 1514u);
  EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 6), Bytes({0x02, 0, 0, 0, 0, 0x07}));
  EXPECT_EQ(Bytes(frame.begin() + 6, frame.begin() + 12),
            Bytes(station_.host_mac().begin(), station_.host_mac().end()));
  EXPECT_EQ(frame[12], 0x80);
  EXPECT_EQ(frame[13], 0x77);
  EXPECT_EQ(Bytes(frame.begin() + 14, frame.end()), payload);
}

TEST_F(PcapLinkTest, ABurstOfFramesIsReceivedWholeAndInOrder) {
  constexpr int kFrames = 20;
  for (int i = 0; i < kFrames; ++i) {
    Bytes frame = data_frame(link::kEtherTargetData,
                             pattern(46 + static_cast<std::size_t>(i) * 73,
                                     static_cast<std::uint8_t>(i)));
    ASSERT_EQ(board_.device->send(frame.data(), frame.size()), 0);
  }
  Bytes buffer;
  std::vector<int> other;
  for (int i = 0; i < kFrames; ++i) {
    const Bytes expected = pattern(46 + static_cast<std::size_t>(i) * 73,
                                   static_cast<std::uint8_t>(i));
    ASSERT_EQ(station_take(buffer, other), static_cast<int>(expected.size())) << "frame " << i;
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<long>(expected.size())), expected);
  }
  EXPECT_TRUE(other.empty());
}

TEST_F(PcapLinkTest, WaitingForAFrameEndsWhenOneIsThereAndLeavesItToTheReceive) {
  using std::chrono::steady_clock;
  // Nothing comes: the wait lasts as long as given.
  steady_clock::time_point until = steady_clock::now() + std::chrono::milliseconds(30);
  station_.wait_for_frame(std::chrono::milliseconds(30));
  EXPECT_GE(steady_clock::now(), until);

  const Bytes frame = data_frame(link::kEtherTargetData, pattern(100, 5));
  ASSERT_EQ(board_.device->send(frame.data(), frame.size()), 0);
  steady_clock::time_point start = steady_clock::now();
  station_.wait_for_frame(std::chrono::seconds(20));
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(10)) << "a waiting frame ends it";
  Bytes buffer;
  std::vector<int> other;
  EXPECT_EQ(station_take(buffer, other), 100);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 100), pattern(100, 5));
}

// A window of frames waited for as a whole: one wake-up, then every frame from the ring without
// waiting again; and each frame's receive stamp places its arrival on the link's clock.
TEST_F(PcapLinkTest, AWaitForAWholeWindowWakesOnceAndTheReceivesTakeItFromTheRing) {
  using std::chrono::steady_clock;
  constexpr int kFrames = 16;
  steady_clock::time_point sent = steady_clock::now();
  for (int i = 0; i < kFrames; ++i) {
    Bytes frame = data_frame(link::kEtherTargetData, pattern(1408, static_cast<std::uint8_t>(i)));
    ASSERT_EQ(board_.device->send(frame.data(), frame.size()), 0);
  }
  const std::uint64_t before = backend_.wake_ups();
  station_.wait_frames(kFrames, steady_clock::now() + std::chrono::milliseconds(5));
  EXPECT_EQ(backend_.wake_ups() - before, 1u);
  Bytes buffer(1408);
  for (int i = 0; i < kFrames; ++i) {
    ASSERT_EQ(station_.receive_data_frame(buffer.data(), 1408), 1408) << "frame " << i;
    EXPECT_EQ(buffer, pattern(1408, static_cast<std::uint8_t>(i)));
  }
  EXPECT_EQ(backend_.wake_ups() - before, 1u) << "a receive after the wait woke again";
  std::optional<steady_clock::time_point> arrival = station_.last_arrival();
  ASSERT_TRUE(arrival.has_value());
  // The stamp has microseconds only.
  EXPECT_GE(*arrival, sent - std::chrono::microseconds(1));
  EXPECT_LE(*arrival, steady_clock::now());

  // A wait whose end has passed does not sleep.
  station_.wait_frames(kFrames, steady_clock::now());
  EXPECT_EQ(backend_.wake_ups() - before, 1u);
}

TEST_F(PcapLinkTest, FramesOfOtherEtherTypesNeverReachTheStation) {
  const Bytes foreign = data_frame(0x0800, pattern(60, 1));
  const Bytes probe = data_frame(link::kEtherProbe, pattern(46, 2));
  const Bytes data = data_frame(link::kEtherTargetData, pattern(50, 3));
  ASSERT_EQ(board_.device->send(foreign.data(), foreign.size()), 0);
  ASSERT_EQ(board_.device->send(probe.data(), probe.size()), 0);
  ASSERT_EQ(board_.device->send(data.data(), data.size()), 0);
  Bytes buffer;
  std::vector<int> other;
  EXPECT_EQ(station_take(buffer, other), 50);
  EXPECT_TRUE(other.empty()) << "the adapter's filter passes only 0x8022 and 0x8088";
}

TEST(PcapBackend, RefusesAnAdapterThatDoesNotDeliverEthernetFrames) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  pcap::PcapBackend backend;
  link::OpenResult opened = backend.open("any");
  EXPECT_FALSE(opened.device);
  EXPECT_NE(opened.error.find("not an Ethernet adapter"), std::string::npos) << opened.error;
  EXPECT_FALSE(opened.permission_denied);
}

TEST(PcapBackend, ReceiveOnAnAdapterThatWentAwayWaitsItsTimeOutInsteadOfSpinning) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  ASSERT_EQ(std::system("ip link add skavd0 type veth peer name skavd1 >/dev/null 2>&1"), 0);
  ASSERT_EQ(std::system("ip link set skavd0 up && ip link set skavd1 up"), 0);
  pcap::PcapBackend backend;
  link::OpenResult opened = backend.open("skavd0");
  ASSERT_TRUE(opened.device) << opened.error;
  // A handle whose interface is down or gone fails at once on every call; a caller polling
  // for frames would spin unless each call still takes its time-out.
  for (const char* step : {"ip link set skavd0 down", "ip link del skavd0"}) {
    ASSERT_EQ(std::system(step), 0);
    for (int call = 0; call < 3; ++call) {
      const std::uint8_t* frame = nullptr;
      auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(opened.device->receive(&frame, link::kReadTimeout), -1) << step;
      EXPECT_GE(std::chrono::steady_clock::now() - start, link::kReadTimeout) << step;
    }
  }
}

}  // namespace
}  // namespace skav

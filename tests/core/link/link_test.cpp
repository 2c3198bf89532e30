#include "core/link/link.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "core/link/in_memory.h"
#include "core/log.h"
#include "support/link_rig.h"

namespace skav::link {
namespace {

using test::Bytes;
using test::make_frame;
using test::pattern;

// The link on an adapter whose address is not the default one, and a board script that sends
// frames to it and takes what it sent.
class LinkTest : public ::testing::Test {
 protected:
  LinkTest() : rig_({test::kAdapterMac, false}), link_(rig_.link()) {}

  void open() {
    link_.enumerate_adapters(&log_, list_);
    ASSERT_EQ(link_.open_adapter(&log_, 1), 1) << log_.text();
    link_.set_target_mac(test::kTargetMac);
  }

  // Receives one frame into a 1600-byte buffer filled with 0xEE beforehand.
  int receive(std::uint32_t capacity) {
    received_.assign(1600, 0xEE);
    return link_.receive_data_frame(received_.data(), capacity);
  }
  // The next frame the station sent that the test has not taken yet; empty when none.
  Bytes take() {
    std::vector<test::WireEvent> sent = rig_.sent();
    if (taken_ >= sent.size()) return {};
    return sent[taken_++].frame;
  }

  test::LinkRig rig_;
  Link& link_;
  StringLog log_;
  AdapterList list_;
  Bytes received_;
  std::size_t taken_ = 0;
};

// --- Send Data Frame ---

TEST_F(LinkTest, SendBuildsTheHeaderFromTargetMacHostMacAndEtherType8077) {
  open();
  const Bytes payload = {0xde, 0xad, 0xbe};
  ASSERT_EQ(link_.send_data_frame(payload.data(), 3), 0);
  const Bytes expected = {0x02, 0x00, 0x00, 0x00, 0x00, 0x09,  // Target MAC
                          0x02, 0x53, 0x4b, 0x41, 0x56, 0x10,  // Host MAC
                          0x80, 0x77, 0xde, 0xad, 0xbe};       // unpadded
  EXPECT_EQ(take(), expected);
}

TEST_F(LinkTest, SendBoundaries) {
  open();
  const Bytes payload = pattern(1501);

  ASSERT_EQ(link_.send_data_frame(payload.data(), 1500), 0);
  Bytes frame = take();
  ASSERT_EQ(frame.size(), 1514u);
  EXPECT_EQ(Bytes(frame.begin() + 14, frame.end()), Bytes(payload.begin(), payload.begin() + 1500));

  EXPECT_EQ(link_.send_data_frame(payload.data(), 1501), -2);
  EXPECT_TRUE(take().empty()) << "an oversized payload must send nothing";

  ASSERT_EQ(link_.send_data_frame(nullptr, 0), 0);
  EXPECT_EQ(take(), make_frame(test::kTargetMac, test::kAdapterMac, kEtherHostData));
}

// --- Receive Data Frame ---

TEST_F(LinkTest, ReceiveCutsAPayloadLongerThanTheCapacity) {
  open();
  const Bytes payload = pattern(100, 7);
  rig_.send(make_frame(test::kOtherMac, test::kTargetMac, kEtherTargetData, payload));
  rig_.send(make_frame(test::kOtherMac, test::kTargetMac, kEtherTargetData, payload));

  EXPECT_EQ(receive(64), -3);
  EXPECT_EQ(Bytes(received_.begin(), received_.begin() + 64),
            Bytes(payload.begin(), payload.begin() + 64));
  EXPECT_EQ(received_[64], 0xEE) << "nothing may be written past the capacity";

  // Addresses are not examined: a frame for another station is taken all the same.
  EXPECT_EQ(receive(100), 100);
  EXPECT_EQ(Bytes(received_.begin(), received_.begin() + 100), payload);
  EXPECT_EQ(received_[100], 0xEE);
}

TEST_F(LinkTest, ReceiveIncludesTheFillOfAPaddedFrame) {
  open();
  Bytes frame = make_frame(test::kAdapterMac, test::kTargetMac, kEtherTargetData, pattern(10, 1));
  frame.resize(kMinFrame, 0);
  rig_.send(frame);
  EXPECT_EQ(receive(1500), 46);
}

TEST_F(LinkTest, ReceiveDropsFramesOfOtherEtherTypes) {
  open();
  const Bytes data = pattern(50, 3);
  rig_.send(make_frame(test::kAdapterMac, test::kTargetMac, 0x0806, pattern(28)));  // ARP
  rig_.send(make_frame(test::kAdapterMac, test::kTargetMac, kEtherReply, pattern(46)));
  rig_.send(make_frame(test::kAdapterMac, test::kTargetMac, kEtherTargetData, data));

  EXPECT_EQ(receive(1500), -2);
  EXPECT_EQ(receive(1500), -2);
  // The foreign frames are gone; the data frame behind them is the next one taken.
  EXPECT_EQ(receive(1500), 50);
  EXPECT_EQ(Bytes(received_.begin(), received_.begin() + 50), data);
  EXPECT_EQ(receive(1500), 0);
}

TEST_F(LinkTest, ReceiveDropsAFrameShorterThanAnEthernetHeader) {
  open();
  rig_.send(Bytes{0x01, 0x02, 0x03});
  EXPECT_EQ(receive(1500), -2);
  EXPECT_EQ(received_[0], 0xEE);
}

// --- Enumerate Adapters ---

TEST_F(LinkTest, EnumerationFailureLogsTheErrorAndLeavesTheListEmpty) {
  rig_.backend().fail_listing("no permission to list");
  list_.count = 5;
  link_.enumerate_adapters(&log_, list_);
  EXPECT_EQ(log_.text(), "Error in pcap_findalldevs: no permission to list\r\n");
  EXPECT_EQ(list_.count, 0);
  EXPECT_TRUE(list_.entries.empty());
  EXPECT_FALSE(link_.is_listed());
  EXPECT_EQ(link_.adapter_count(), 0);

  log_.clear();
  EXPECT_EQ(link_.open_adapter(&log_, 1), 0);
  EXPECT_EQ(log_.text(), "Interface number out of range.inum:01,iIfNum:00\r\n");
  // The operator's panel shows the open error: the platform's reason (say, a capture library
  // to install) must reach it, not only the log.
  EXPECT_EQ(link_.open_error(), "the adapters could not be listed: no permission to list");

  // A listing that works again leaves no stale reason behind.
  rig_.backend().fail_listing("");
  rig_.backend().add_adapter({"eth1", "First port"});
  link_.enumerate_adapters(&log_, list_);
  link_.close_link();
  EXPECT_EQ(link_.open_adapter(&log_, 1), 0);
  EXPECT_EQ(link_.open_error(), "the adapters could not be listed");
}

TEST_F(LinkTest, EnumerationRefusedForLackOfPrivilegeAddsTheHint) {
  rig_.backend().fail_listing("socket: Operation not permitted", true);
  link_.enumerate_adapters(&log_, list_);
  EXPECT_EQ(log_.text(),
            "Error in pcap_findalldevs: socket: Operation not permitted\r\n"
            "Raw Ethernet access needs root or the capabilities cap_net_raw (and cap_net_admin "
            "for promiscuous mode), e.g. sudo setcap cap_net_raw,cap_net_admin=eip "
            "$(command -v skav)\r\n");
}

TEST_F(LinkTest, AnAdapterWithoutDescriptionKeepsItsPositionUnderItsSystemName) {
  const std::string long_name = "enp0s31f6-with-a-rather-long-system-name";
  rig_.backend().add_adapter({"eth1", "Second port"});
  rig_.backend().add_adapter({long_name, ""});
  rig_.backend().add_adapter({"eth3", "Fourth port"});
  link_.enumerate_adapters(&log_, list_);

  ASSERT_EQ(list_.count, 4);
  EXPECT_EQ(list_.entries[1], "Second port");
  EXPECT_EQ(list_.entries[2], long_name.substr(0, 27));
  EXPECT_EQ(list_.entries[3], "Fourth port");
  EXPECT_EQ(list_.names[2], long_name);
  EXPECT_EQ(list_.names[3], "eth3");

  // Adapter number 3 is that adapter, opened by its full system name.
  EXPECT_EQ(link_.open_adapter(&log_, 3), 0);
  EXPECT_EQ(log_.text(), "Unable to open the adapter. " + long_name +
                             " is not supported by WinPcap\r\nReason: no such simulated adapter\r\n");
}

TEST_F(LinkTest, ASecondEnumerationStartsFromCountZero) {
  link_.enumerate_adapters(&log_, list_);
  rig_.backend().add_adapter({"eth1", "Second port"});
  link_.enumerate_adapters(&log_, list_);
  EXPECT_EQ(list_.count, 2);
  EXPECT_EQ(list_.entries, (std::vector<std::string>{"Simulated board link", "Second port"}));
  EXPECT_EQ(link_.adapter_count(), 2);
}

TEST_F(LinkTest, MoreThanSixteenAdaptersAreAllListedAndReachable) {
  for (int i = 2; i <= 20; ++i)
    rig_.backend().add_adapter({"eth" + std::to_string(i), "Port " + std::to_string(i)});
  link_.enumerate_adapters(&log_, list_);
  ASSERT_EQ(list_.count, 20);
  ASSERT_EQ(list_.entries.size(), 20u);
  EXPECT_EQ(list_.entries[19], "Port 20");
  EXPECT_EQ(link_.adapter_count(), 20);

  // Number 20 is in range: the open reaches the backend with that adapter's name.
  EXPECT_EQ(link_.open_adapter(&log_, 20), 0);
  EXPECT_EQ(log_.text().rfind("Unable to open the adapter. eth20 is not supported", 0), 0u)
      << log_.text();
}

// --- Open Adapter ---

TEST_F(LinkTest, AdapterNumbersOutsideOneToCountLogTheRangeMessage) {
  rig_.backend().add_adapter({"eth1", "Second port"});
  rig_.backend().add_adapter({"eth2", "Third port"});
  link_.enumerate_adapters(&log_, list_);
  ASSERT_EQ(list_.count, 3);
  EXPECT_EQ(link_.open_adapter(&log_, 0), 0);
  EXPECT_EQ(log_.text(), "Interface number out of range.inum:00,iIfNum:03\r\n");

  log_.clear();
  link_.enumerate_adapters(&log_, list_);
  EXPECT_EQ(link_.open_adapter(&log_, 4), 0);
  EXPECT_EQ(log_.text(), "Interface number out of range.inum:04,iIfNum:03\r\n");
  EXPECT_FALSE(link_.is_open());
}

TEST_F(LinkTest, AFailedOpenReleasesTheListUntilTheNextEnumeration) {
  link_.enumerate_adapters(&log_, list_);
  ASSERT_EQ(link_.open_adapter(&log_, 0), 0);
  EXPECT_FALSE(link_.is_listed());
  // The released list is not used: opening again is refused until adapters are listed again.
  log_.clear();
  EXPECT_EQ(link_.open_adapter(&log_, 1), 0);
  EXPECT_EQ(log_.text(), "Interface number out of range.inum:01,iIfNum:01\r\n");
  link_.enumerate_adapters(&log_, list_);
  EXPECT_EQ(link_.open_adapter(&log_, 1), 1);
  EXPECT_EQ(list_.count, 1);
}

TEST_F(LinkTest, AFailedOpenLogsTheReasonAndLeavesNoDevice) {
  rig_.backend().fail_open(true, "The interface is down");
  link_.enumerate_adapters(&log_, list_);
  EXPECT_EQ(link_.open_adapter(&log_, 1), 0);
  EXPECT_EQ(log_.text(),
            "Unable to open the adapter. sim0 is not supported by WinPcap\r\n"
            "Reason: The interface is down\r\n");
  EXPECT_FALSE(link_.is_open());
  EXPECT_FALSE(link_.is_listed());

  rig_.send(make_frame(test::kAdapterMac, test::kTargetMac, kEtherTargetData, pattern(50)));
  const Bytes payload = pattern(10);
  EXPECT_EQ(link_.send_data_frame(payload.data(), 10), -1);
  EXPECT_EQ(receive(1500), 0);
  EXPECT_TRUE(rig_.sent().empty());
  EXPECT_TRUE(rig_.taken().empty()) << "no frame may be taken without an open adapter";
}

TEST_F(LinkTest, AnOpenRefusedForLackOfPrivilegeAddsTheHint) {
  rig_.backend().fail_open(true, "socket: Operation not permitted", true);
  link_.enumerate_adapters(&log_, list_);
  EXPECT_EQ(link_.open_adapter(&log_, 1), 0);
  EXPECT_EQ(log_.text(),
            "Unable to open the adapter. sim0 is not supported by WinPcap\r\n"
            "Reason: socket: Operation not permitted\r\n"
            "Raw Ethernet access needs root or the capabilities cap_net_raw (and cap_net_admin "
            "for promiscuous mode), e.g. sudo setcap cap_net_raw,cap_net_admin=eip "
            "$(command -v skav)\r\n");
}

TEST_F(LinkTest, OpenTakesTheAdaptersMacAsHostMacAndCloseLinkReleasesTheDevice) {
  open();
  EXPECT_EQ(link_.host_mac(), test::kAdapterMac);
  EXPECT_EQ(link_.open_name(), "sim0");
  link_.close_link();
  EXPECT_FALSE(link_.is_open());
  EXPECT_FALSE(link_.is_listed());
  EXPECT_EQ(link_.host_mac(), test::kAdapterMac) << "Close Link keeps the Host MAC";
  EXPECT_EQ(link_.target_mac(), test::kTargetMac) << "Close Link keeps the Target MAC";
  const Bytes payload = pattern(4);
  EXPECT_EQ(link_.send_data_frame(payload.data(), 4), -1);
}

// --- An adapter that goes away ---

TEST_F(LinkTest, AnAdapterThatGoesAwayIsLostUntilItIsOpenedAgain) {
  open();
  rig_.send(make_frame(test::kAdapterMac, test::kTargetMac, kEtherTargetData, pattern(50)));
  rig_.backend().set_present(false);
  EXPECT_EQ(receive(1500), 0) << "the waiting frame is not taken from a lost adapter";
  EXPECT_TRUE(link_.adapter_lost());
  EXPECT_TRUE(link_.is_open());
  EXPECT_EQ(link_.open_name(), "sim0") << "kept, so that the log can name it";
  const Bytes payload = pattern(4);
  EXPECT_EQ(link_.send_data_frame(payload.data(), 4), -1);
  EXPECT_EQ(link_.send_probe(), -1);
  EXPECT_EQ(link_.drain(10), 0);
  // Nothing can come: a receive pauses the read time-out, so that a polling loop does not spin.
  Clock::time_point before = rig_.clock().now();
  EXPECT_EQ(receive(1500), 0);
  EXPECT_EQ(rig_.clock().now() - before, kReadTimeout);
  EXPECT_TRUE(rig_.taken().empty());

  // Gone from the list too; back, it opens as new.
  link_.enumerate_adapters(&log_, list_);
  EXPECT_EQ(list_.count, 0);
  rig_.backend().set_present(true);
  link_.enumerate_adapters(&log_, list_);
  ASSERT_EQ(link_.open_adapter(&log_, 1), 1);
  EXPECT_FALSE(link_.adapter_lost());
  EXPECT_EQ(receive(1500), 50);
}

TEST_F(LinkTest, DrainDropsOnlyTheFramesAlreadyWaitingAndNeverWaits) {
  open();
  for (int i = 0; i < 3; ++i) rig_.send(make_frame(test::kAdapterMac, test::kOtherMac, 0x0800, pattern(46)));
  Clock::time_point before = rig_.clock().now();
  EXPECT_EQ(link_.drain(2), 2);
  EXPECT_EQ(link_.drain(5), 1);
  EXPECT_EQ(link_.drain(5), 0);
  EXPECT_EQ(rig_.clock().now(), before);
  EXPECT_EQ(rig_.taken().size(), 3u);
}

// --- The in-process wire ---

TEST(FrameQueue, DropsFramesWhenFullAndKeepsOrderAcrossTheWrap) {
  FrameQueue queue(2);
  Bytes out(kMaxFrame);
  const Bytes a = {1}, b = {2, 2}, c = {3, 3, 3}, d = {4, 4, 4, 4};
  queue.push(a.data(), a.size());
  queue.push(b.data(), b.size());
  queue.push(c.data(), c.size());  // dropped: both slots taken
  EXPECT_EQ(queue.pop(out.data(), std::chrono::milliseconds(0)), 1);
  queue.push(d.data(), d.size());  // goes into the slot freed at the front
  EXPECT_EQ(queue.pop(out.data(), std::chrono::milliseconds(0)), 2);
  EXPECT_EQ(out[1], 2);
  EXPECT_EQ(queue.pop(out.data(), std::chrono::milliseconds(0)), 4);
  EXPECT_EQ(out[3], 4);
  EXPECT_EQ(queue.pop(out.data(), std::chrono::milliseconds(0)), 0);
  EXPECT_EQ(queue.sleeps(), 0u) << "a pop that may not wait does not sleep";
}

// A wait for a whole window: it sleeps only when too few frames are queued, and ends when the
// count-th frame is pushed (not the first) or when its bound has passed.
TEST(FrameQueue, AWaitForFramesEndsWithTheLastOfThemOrAtItsBound) {
  struct Case {
    const char* name;
    std::size_t queued;  // before the wait
    std::size_t pushed;  // by another thread, one by one, during the wait
    std::size_t count;
    std::chrono::milliseconds bound;
    bool sleeps;
    std::size_t waiting_after;
  };
  const Case cases[] = {
      {"AllThere", 16, 0, 16, std::chrono::milliseconds(500), false, 16},
      {"MoreThanAsked", 3, 0, 1, std::chrono::milliseconds(500), false, 3},
      {"NoTimeLeft", 0, 0, 16, std::chrono::milliseconds(0), false, 0},
      {"EndsWithTheLast", 0, 16, 16, std::chrono::milliseconds(900), true, 16},
      {"EndsAtTheBound", 5, 0, 16, std::chrono::milliseconds(1), true, 5},
  };
  const Bytes frame = pattern(60);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FrameQueue queue;
    for (std::size_t i = 0; i < c.queued; ++i) queue.push(frame.data(), frame.size());
    std::thread pusher([&] {
      if (c.pushed == 0) return;
      // The wait counts its sleep under the queue's lock, which it gives up only as it sleeps.
      while (queue.sleeps() == 0) std::this_thread::yield();
      for (std::size_t i = 0; i < c.pushed; ++i) {
        queue.push(frame.data(), frame.size());
        std::this_thread::yield();
      }
    });
    queue.wait_for(c.count, c.bound);
    // With frames still to come, the wait must not have ended before the last of them.
    EXPECT_EQ(queue.size(), c.waiting_after);
    EXPECT_EQ(queue.sleeps(), c.sleeps ? 1u : 0u);
    pusher.join();
  }
}

TEST(InMemoryWire, AFrameTakenIsStampedWithTheMomentItWasSent) {
  InMemoryWire wire;
  EXPECT_FALSE(wire.station_end().last_receive_age().has_value()) << "nothing taken yet";
  const Bytes frame = make_frame(test::kAdapterMac, test::kTargetMac, kEtherTargetData, pattern(20));
  const auto before = FrameQueue::Clock::now();
  ASSERT_EQ(wire.board_end().send(frame.data(), frame.size()), 0);
  const auto after = FrameQueue::Clock::now();
  const std::uint8_t* taken = nullptr;
  ASSERT_EQ(wire.station_end().receive(&taken, std::chrono::milliseconds(0)), static_cast<int>(frame.size()));
  const auto received = FrameQueue::Clock::now();
  std::optional<std::chrono::nanoseconds> age = wire.station_end().last_receive_age();
  const auto now = FrameQueue::Clock::now();
  ASSERT_TRUE(age.has_value());
  // Sent between `before` and `after`, its age read between `received` and `now`.
  EXPECT_GE(*age, received - after);
  EXPECT_LE(*age, now - before);
  // A receive that finds nothing keeps the stamp of the frame last taken.
  EXPECT_EQ(wire.station_end().receive(&taken, std::chrono::milliseconds(0)), 0);
  EXPECT_GE(*wire.station_end().last_receive_age(), *age);
}

TEST(InMemoryWire, WhatOneEndSendsTheOtherReceivesInOrder) {
  InMemoryWire wire;
  const Bytes first = make_frame(test::kTargetMac, test::kAdapterMac, kEtherHostData, pattern(10));
  const Bytes second = make_frame(test::kAdapterMac, test::kTargetMac, kEtherTargetData, pattern(20));
  ASSERT_EQ(wire.station_end().send(first.data(), first.size()), 0);
  ASSERT_EQ(wire.station_end().send(second.data(), second.size()), 0);
  const std::uint8_t* frame = nullptr;
  ASSERT_EQ(wire.board_end().receive(&frame, std::chrono::milliseconds(0)), static_cast<int>(first.size()));
  EXPECT_EQ(Bytes(frame, frame + first.size()), first);
  ASSERT_EQ(wire.board_end().receive(&frame, std::chrono::milliseconds(0)), static_cast<int>(second.size()));
  EXPECT_EQ(Bytes(frame, frame + second.size()), second);
  EXPECT_EQ(wire.station_end().receive(&frame, std::chrono::milliseconds(0)), 0) << "nothing came back";
}

}  // namespace
}  // namespace skav::link

// Target discovery fed with whatever frames the input describes. Three empty frames follow the
// input's frames, so each of the three receive attempts finds something at once and no input
// waits. The probe sent, the answer, the Target MAC and the time taken on the link's clock are
// checked against the rule: the source of the first Discovery Reply among the next three
// frames, a pause after each miss.

#include <cstdint>
#include <cstring>

#include "core/link/discovery.h"
#include "fuzz_support.h"

namespace {

using skav::fuzz::check;
using skav::fuzz::Frame;
using skav::fuzz::FrameCutter;
using skav::link::kEthernetHeader;

constexpr std::size_t kMaxInputFrames = 8;
constexpr skav::link::Mac kPreviousTarget = {0x02, 0x00, 0x00, 0x00, 0x00, 0x42};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto& rig = skav::fuzz::WireRig::get();
  rig.reset();
  rig.link().set_target_mac(kPreviousTarget);

  static Frame frames[kMaxInputFrames + skav::link::kDiscoveryAttempts];
  FrameCutter cutter(data, size);
  std::size_t count = 0;
  while (count < kMaxInputFrames && cutter.next(frames[count])) ++count;
  for (int i = 0; i < skav::link::kDiscoveryAttempts; ++i) frames[count++].length = 0;
  for (std::size_t i = 0; i < count; ++i) rig.inject(frames[i]);

  const skav::Clock::time_point start = rig.clock().now();
  int found = skav::link::find_target(rig.link());
  const skav::Clock::duration took = rig.clock().now() - start;

  int expected_found = 0;
  int expected_pauses = 0;
  skav::link::Mac expected_target = kPreviousTarget;
  for (int i = 0; i < skav::link::kDiscoveryAttempts; ++i) {
    const Frame& frame = frames[i];
    if (frame.length >= kEthernetHeader &&
        skav::link::ether_type(frame.bytes) == skav::link::kEtherReply) {
      expected_found = 1;
      std::memcpy(expected_target.data(), frame.bytes + 6, 6);
      break;
    }
    ++expected_pauses;
  }
  check(found == expected_found, "found exactly when one of the next three frames is a reply");
  check(took == expected_pauses * skav::link::kDiscoveryPause,
        "one pause after every miss, and no receive waited");
  check(rig.link().target_mac() == expected_target,
        "the Target MAC is the reply's source, unchanged without a reply");
  std::size_t taken = static_cast<std::size_t>(expected_pauses + expected_found);
  check(rig.wire().to_station().size() == count - taken, "no frame is taken after the reply");

  Frame probe;
  check(rig.take_sent(probe) == static_cast<int>(skav::link::kMinFrame),
        "the probe is a 60-byte frame");
  static constexpr std::uint8_t kBroadcast[6] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
  check(std::memcmp(probe.bytes, kBroadcast, 6) == 0, "the probe is broadcast");
  check(std::memcmp(probe.bytes + 6, skav::fuzz::kHostMac.data(), 6) == 0,
        "the probe comes from the host");
  check(skav::link::ether_type(probe.bytes) == skav::link::kEtherProbe,
        "the probe has the probe EtherType");
  check(rig.take_sent(probe) == 0, "one probe per discovery");
  return 0;
}

#include "core/link/discovery.h"

#include <cstring>
#include <thread>

namespace skav::link {

void sleep_pause(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

namespace {

// The probe's 46 payload bytes are whatever the transmit frame's payload area holds from the
// last data frame: only the header is written.
void send_probe(Link& link) {
  std::uint8_t* frame = link.transmit_frame();
  write_header(frame, kBroadcast, link.host_mac(), kEtherProbe);
  if (FrameDevice* device = link.device()) device->send(frame, kMinFrame);
}

int await_reply(Link& link, const Pause& pause) {
  for (int attempt = 0; attempt < kDiscoveryAttempts; ++attempt) {
    const std::uint8_t* frame = nullptr;
    int length = 0;
    if (FrameDevice* device = link.device()) length = device->receive(&frame, kReadTimeout);
    if (length >= static_cast<int>(kEthernetHeader) && ether_type(frame) == kEtherReply) {
      Mac source;
      std::memcpy(source.data(), frame + 6, 6);
      link.set_target_mac(source);
      return 1;
    }
    pause(kDiscoveryPause);
  }
  return 0;
}

}  // namespace

int find_target(Link& link, const Pause& pause) {
  send_probe(link);
  return await_reply(link, pause);
}

}  // namespace skav::link

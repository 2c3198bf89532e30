#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/link/frame_device.h"

namespace skav::pcap {

// The libpcap link: lists the host's adapters and opens one for raw frames. The opened
// adapter delivers frames immediately, passes only the EtherTypes the station receives
// (0x8022 and 0x8088) through a kernel filter, and never blocks longer than the read time-out.
class PcapBackend : public link::FrameBackend {
 public:
  link::AdapterListing list_adapters() override;
  // Reads the interface's hardware address (SIOCGIFHWADDR).
  std::optional<link::Mac> adapter_mac(const std::string& name) override;
  // Opens an Ethernet adapter in promiscuous, immediate mode. On failure the result carries
  // libpcap's reason and whether it was a missing privilege (cap_net_raw / cap_net_admin).
  link::OpenResult open(const std::string& name) override;

  // Opens an adapter for the board's side: the filter passes the EtherTypes a board receives
  // (0x8011 and 0x8077) instead.
  link::OpenResult open_for_board(const std::string& name);

  // How many times the devices opened here woke from a wait (returns from poll or ppoll that
  // were given a time to sleep), for the benchmark's count of wake-ups per window.
  std::uint64_t wake_ups() const;

 private:
  std::shared_ptr<std::atomic<std::uint64_t>> wake_ups_ =
      std::make_shared<std::atomic<std::uint64_t>>(0);
};

// The name the operator knows the interface by: its alias when one is set, else its name.
std::string friendly_name(const std::string& name);

}  // namespace skav::pcap

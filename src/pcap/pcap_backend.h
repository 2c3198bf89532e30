#pragma once

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
};

}  // namespace skav::pcap

#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/link/frame_device.h"
#include "backends/windows/wpcap_api.h"

namespace skav::windows {

// The Windows link: the capture library's Windows port (Npcap's wpcap.dll, loaded at run time)
// lists the adapters by their system names (\Device\NPF_{GUID}) and opens one in promiscuous
// mode with a 1514-byte snap length and a 20 ms read time-out. The adapter's own address comes
// from the IP Helper API. Each optional library call has a fallback (see WpcapPaths); under
// Wine only the fallbacks run.
class WpcapBackend : public link::FrameBackend {
 public:
  // Loads wpcap.dll. When it cannot, every listing and opening fails with the reason.
  WpcapBackend();
  // Works through the given table (tests pass one of fakes).
  explicit WpcapBackend(std::shared_ptr<const WpcapApi> api);

  // Empty when the library is loaded; else what is missing, for the operator.
  const std::string& load_error() const { return load_error_; }

  link::AdapterListing list_adapters() override;
  // The current address of the adapter whose GUID the name carries, from GetAdaptersAddresses.
  std::optional<link::Mac> adapter_mac(const std::string& name) override;
  // Passes only the EtherTypes the station receives (0x8022, 0x8088) where a kernel filter can
  // be set. A failed open carries the library's reason, and whether privileges were missing.
  link::OpenResult open(const std::string& name) override;
  // The board's side: the filter passes 0x8011 and 0x8077 instead.
  link::OpenResult open_for_board(const std::string& name);

  // The paths the last successful open took (after any fallback a failing call forced).
  const WpcapPaths& opened_paths() const { return opened_paths_; }

 private:
  link::OpenResult open_filtered(const std::string& name, std::uint16_t first,
                                 std::uint16_t second);

  std::shared_ptr<const WpcapApi> api_;
  std::string load_error_;
  WpcapPaths opened_paths_;
};

// The "{GUID}" part of a capture device name such as "\Device\NPF_{GUID}"; empty when the
// name carries none. The IP Helper API names adapters by this GUID.
std::string_view adapter_guid(std::string_view name);

// One row of the system's adapter table: the adapter's GUID ("{...}") and the name the
// operator sees for it (UTF-8, "Ethernet 2").
struct AdapterTableRow {
  std::string guid;
  std::string friendly_name;
};

// Gives each adapter the friendly name of the row whose GUID its system name carries (GUIDs
// compared without regard to case). An adapter without such a row keeps what it has.
void attach_friendly_names(std::vector<link::AdapterInfo>& adapters,
                           const std::vector<AdapterTableRow>& table);

// The system's adapter table (GetAdaptersAddresses); empty when it cannot be read.
std::vector<AdapterTableRow> read_adapter_table();

}  // namespace skav::windows

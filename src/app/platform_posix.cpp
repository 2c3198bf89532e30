#include "app/platform.h"
#include "core/settings/file_settings_store.h"
#include "pcap/pcap_backend.h"

namespace skav::app {

std::unique_ptr<link::FrameBackend> make_adapter_backend() {
  return std::make_unique<pcap::PcapBackend>();
}

link::OpenResult open_board_adapter(const std::string& name) {
  return pcap::PcapBackend().open_for_board(name);
}

SettingsPlace settings_place(const std::filesystem::path& given, bool simulated) {
  SettingsPlace place;
  std::filesystem::path path = settings::FileSettingsStore::path_for(given, simulated);
  if (path.empty()) return place;
  place.store = std::make_unique<settings::FileSettingsStore>(path);
  place.pool_file = path;
  place.description = path.string();
  return place;
}

int peek_machwid(const std::filesystem::path& given, MacDigits::Digits& digits, std::string* found) {
  return settings::FileSettingsStore(settings::FileSettingsStore::path_for(given, false))
      .machwid_peek(digits, found);
}

}  // namespace skav::app

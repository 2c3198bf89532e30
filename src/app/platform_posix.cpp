#include "app/platform.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "core/platform/utf8.h"
#include "core/settings/file_settings_store.h"
#include "backends/pcap/pcap_backend.h"

namespace skav::app {

std::vector<std::string> utf8_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void write_text(std::FILE* out, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
}

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
  place.description = platform::utf8_of(path);
  return place;
}

int peek_machwid(const std::filesystem::path& given, MacDigits::Digits& digits, std::string* found) {
  return settings::FileSettingsStore(settings::FileSettingsStore::path_for(given, false))
      .machwid_peek(digits, found);
}

const char* settings_option_help() {
  return "Settings file (default: $SKAV_SETTINGS, else $XDG_CONFIG_HOME/skav/settings.reg)";
}

const char* build_name() { return "Linux"; }

std::string host_name() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "localhost";
  return host;
}

std::string account_name() {
  std::string user;
  struct passwd entry {};
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_name != nullptr)
    user = found->pw_name;
  if (user.empty()) user = "uid" + std::to_string(::geteuid());
  return user + "@" + host_name();
}

std::string missing_ledger_note(const std::filesystem::path& folder) {
  return "addresses are guarded per user only: the folder " + platform::utf8_of(folder) +
         " of the PC's address ledger is missing (scripts/setup.sh makes it when run as root)";
}

}  // namespace skav::app

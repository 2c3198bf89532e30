#include "app/platform.h"

#include <cstdlib>

#include "core/platform/files.h"
#include "core/platform/utf8.h"
#include "core/settings/file_settings_store.h"
#include "backends/windows/console.h"
#include "backends/windows/registry_settings_store.h"
#include "backends/windows/wpcap_backend.h"

namespace skav::app {

std::vector<std::string> utf8_arguments(int argc, char** argv) {
  std::vector<std::string> arguments = windows::command_line_utf8();
  return arguments.empty() ? std::vector<std::string>(argv, argv + argc) : arguments;
}

void write_text(std::FILE* out, std::string_view text) { windows::write_utf8(out, text); }

std::unique_ptr<link::FrameBackend> make_adapter_backend() {
  return std::make_unique<windows::WpcapBackend>();
}

link::OpenResult open_board_adapter(const std::string& name) {
  return windows::WpcapBackend().open_for_board(name);
}

SettingsPlace settings_place(const std::filesystem::path& given, bool simulated) {
  SettingsPlace place;
  if (!given.empty()) {
    place.store = std::make_unique<settings::FileSettingsStore>(given);
    place.pool_file = given;
    place.description = platform::utf8_of(given);
    return place;
  }
  // The registry key has no file to lock: the pool's lock file lies in the user's
  // application data, one per key.
  std::filesystem::path folder = platform::user_config_folder();
  if (folder.empty()) return place;
  const std::string key = simulated ? windows::kSimulationKey : windows::kSettingsKey;
  place.store = std::make_unique<windows::RegistrySettingsStore>(HKEY_CURRENT_USER, key);
  place.pool_file = folder / "SKAV" / (simulated ? "simulation" : "registry");
  place.description = "HKEY_CURRENT_USER\\" + key;
  return place;
}

int peek_machwid(const std::filesystem::path& given, MacDigits::Digits& digits, std::string* found) {
  if (!given.empty()) return settings::FileSettingsStore(given).machwid_peek(digits, found);
  return windows::RegistrySettingsStore().machwid_peek(digits, found);
}

const char* settings_option_help() {
  return "Settings file (default: the registry key HKEY_CURRENT_USER\\Software\\SKAV)";
}

const char* build_name() { return "Windows"; }

std::string host_name() {
  const char* host = std::getenv("COMPUTERNAME");
  return host != nullptr && *host != '\0' ? host : "localhost";
}

std::string account_name() {
  const char* user = std::getenv("USERNAME");
  return std::string(user != nullptr && *user != '\0' ? user : "user") + "@" + host_name();
}

std::string missing_ledger_note(const std::filesystem::path& folder) {
  return "addresses are guarded per user only: the folder " + platform::utf8_of(folder) +
         " of the PC's address ledger is missing (the SKAV installer makes it)";
}

}  // namespace skav::app

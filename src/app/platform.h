#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/link/frame_device.h"
#include "core/mac_digits.h"
#include "core/settings/settings_store.h"

namespace skav::app {

// The platform's adapter access: libpcap on Linux, the capture library's Windows port
// (wpcap.dll, loaded at run time) on Windows.
std::unique_ptr<link::FrameBackend> make_adapter_backend();

// Opens an adapter for a simulated board's side (it receives 0x8011 and 0x8077).
link::OpenResult open_board_adapter(const std::string& name);

// Where a station keeps its settings, and the file whose lock gives it the address pool.
struct SettingsPlace {
  std::unique_ptr<settings::SettingsStore> store;
  std::filesystem::path pool_file;  // PoolHold claims the pool of this path
  std::string description;          // for messages: the file, or the registry key
};

// The store a front end uses: the file `given` when not empty; otherwise the platform's own
// per-user store: on Linux the settings file (simulate.reg beside it for a simulation), on
// Windows the registry key HKEY_CURRENT_USER\Software\SKAV (Software\SKAV\Simulation for a
// simulation), so that a simulation never moves the real station's next address. Empty
// `store` when no place is known.
SettingsPlace settings_place(const std::filesystem::path& given, bool simulated);

// MACHWID of the store settings_place(given, false) names, without creating anything or
// taking a lock: for commands that only look. 0, or non-zero with `digits` untouched
// (settings::kBadValue: a value that is not 12 hexadecimal digits, given in `found`).
int peek_machwid(const std::filesystem::path& given, MacDigits::Digits& digits, std::string* found = nullptr);

// The help of --settings: the platform's default place of the settings.
const char* settings_option_help();

// The platform the program was built for, for messages: "Linux" or "Windows".
const char* build_name();

// This PC's host name ("localhost" when it has none).
std::string host_name();

// This account on this PC as user@host, naming the station in the PC's address ledger.
std::string account_name();

// What a station says on standard error and its panel where the PC's address ledger folder
// (platform::machine_data_folder()) is missing, naming it and who makes it.
std::string missing_ledger_note(const std::filesystem::path& folder);

// The program's arguments in UTF-8, the program's name first. On Windows they come from the
// wide command line: `argv` holds them in the ANSI code page, which cannot hold every name.
std::vector<std::string> utf8_arguments(int argc, char** argv);

// Writes the UTF-8 `text` to `out` and flushes it. On a Windows console it goes as wide
// characters, which show right whatever the console's code page; to a pipe or a file, and
// everywhere on Linux, the bytes go as they are.
void write_text(std::FILE* out, std::string_view text);

}  // namespace skav::app

#pragma once

#include <windows.h>

#include <string>

#include "core/settings/settings_store.h"

namespace skav::windows {

inline constexpr const char* kSettingsKey = "Software\\SKAV";
// Simulated runs keep their settings apart, so that they never move the real next address.
inline constexpr const char* kSimulationKey = "Software\\SKAV\\Simulation";

// The settings in the registry: one key (by default HKEY_CURRENT_USER\Software\SKAV), created
// on first use as a non-volatile key and opened for reading and writing by every call, closed
// again before it returns. BarCode and NetIF are REG_DWORD values; MACHWID is REG_EXPAND_SZ
// data of exactly its 12 characters, without a terminating zero. Reads do not look at a
// value's type. Results are 0 or the registry's error code (ERROR_FILE_NOT_FOUND, 2, for a
// missing value); when the key cannot be created or opened the call logs
// "Could not create the registry key.\r\n".
class RegistrySettingsStore : public settings::SettingsStore {
 public:
  explicit RegistrySettingsStore(HKEY root = HKEY_CURRENT_USER, std::string subkey = kSettingsKey);

  int number_write(Log* log, std::string_view name, std::int32_t value) override;
  // Reads at most 4 bytes; a longer value gives ERROR_MORE_DATA and leaves `value` as it was.
  int number_read(Log* log, std::string_view name, std::int32_t& value) override;
  int machwid_write(Log* log, const MacDigits::Digits& digits) override;
  // A stored value of other than 12 hexadecimal digits (a terminating zero is not one) gives
  // settings::kBadValue, `digits` untouched and the value's characters in `found`.
  int machwid_read(Log* log, MacDigits::Digits& digits, std::string* found = nullptr) override;
  // StationId as REG_SZ, made and stored on first use.
  int station_id(Log* log, std::string& id) override;
  // MACHWID as machwid_read gives it, but only looking: the key is opened for reading and never
  // created (a missing key gives ERROR_FILE_NOT_FOUND). Logs nothing.
  int machwid_peek(MacDigits::Digits& digits, std::string* found = nullptr) const;
  // "HKEY_CURRENT_USER\Software\SKAV" (the key under another root: its path alone).
  std::string place() const override;
  std::string error_text(int result) const override;

 private:
  // Creates or opens the key; logs the message and returns the error when it cannot.
  LONG open(Log* log, HKEY& key) const;
  // Reads MACHWID from the open `key` and closes it.
  static int read_machwid(HKEY key, MacDigits::Digits& digits, std::string* found);

  HKEY root_;
  std::string subkey_;
};

}  // namespace skav::windows

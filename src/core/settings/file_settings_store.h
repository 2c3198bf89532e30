#pragma once

#include <filesystem>
#include <string_view>

#include "core/settings/settings_store.h"

namespace skav::settings {

// The settings kept in a per-user text file in the format of a Windows registry export:
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\SKAV]
//   "BarCode"=dword:00000001
//   "MACHWID"=hex(2):30,00,30,00,31,00,31,00,32,00,32,00,33,00,33,00,34,00,34,00,35,00,35,00,00,00
// The file is read as an import into a registry reads it: a second heading of the key continues
// it, the last line of a value counts, and a heading [-key] drops the values before it. A write
// replaces every line of its value. A file in UTF-16 LE (as regedit exports) or with a UTF-8
// byte-order mark is written back in that encoding; a new store is 8-bit text with CR LF line
// ends. MACHWID is written as UTF-16 LE text with its terminating zero, as an export shows a
// string; reads also take the 12 bytes of the older form and a quoted string. An empty file (or
// one holding only a byte-order mark) is a store without values.
// Every call locks <path>.lock, reads the file, and for a change writes <path>.tmp, syncs it
// and renames it over the file, so a crash leaves either the old or the new store. A store
// that exists but cannot be read or parsed is never overwritten: every call logs
// "Could not create the registry key.\r\n" and returns an error until it is repaired.
class FileSettingsStore : public SettingsStore {
 public:
  explicit FileSettingsStore(std::filesystem::path path = default_path());

  // $SKAV_SETTINGS if set, else $XDG_CONFIG_HOME/skav/settings.reg, else
  // ~/.config/skav/settings.reg; empty when no home folder is known.
  static std::filesystem::path default_path();
  // The store a front end uses: `given` when not empty, else the default one. A simulation
  // without $SKAV_SETTINGS gets simulate.reg beside the default store instead, so that it
  // never moves the real station's next MAC address.
  static std::filesystem::path path_for(const std::filesystem::path& given, bool simulated);

  const std::filesystem::path& path() const { return path_; }
  // The file a write is prepared in before it replaces the store.
  std::filesystem::path temp_path() const;

  // Results: kOk, kNotFound for a missing value (reads), otherwise an errno value.
  int number_write(Log* log, std::string_view name, std::int32_t value) override;
  int number_read(Log* log, std::string_view name, std::int32_t& value) override;
  int machwid_write(Log* log, const MacDigits::Digits& digits) override;
  int machwid_read(Log* log, MacDigits::Digits& digits, std::string* found = nullptr) override;
  // Read, or made and written, under the store's lock: two first starts agree on one.
  int station_id(Log* log, std::string& id) override;
  // MACHWID without taking the lock or creating anything (a store that does not exist gives
  // kNotFound): for commands that only look. Logs nothing.
  int machwid_peek(MacDigits::Digits& digits, std::string* found = nullptr) const;
  std::string place() const override;
  std::string error_text(int result) const override;

 private:
  std::filesystem::path path_;
};

}  // namespace skav::settings

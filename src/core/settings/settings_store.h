#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/log.h"
#include "core/mac_digits.h"

namespace skav::settings {

// Result codes: 0 success; otherwise an error number. A missing value is kNotFound.
inline constexpr int kOk = 0;
inline constexpr int kNotFound = 2;  // also the value of ENOENT and of the Windows not-found code
// MACHWID is there but is not 12 hexadecimal digits. Negative: never an errno value or a
// Windows error code.
inline constexpr int kBadValue = -1;

inline constexpr const char* kBarCode = "BarCode";
inline constexpr const char* kNetIF = "NetIF";
inline constexpr const char* kMachwid = "MACHWID";
inline constexpr const char* kStationId = "StationId";

// A new station identity: 32 lowercase hexadecimal digits, 128 random bits.
std::string make_station_id();
// True for a stored identity that is one: 32 hexadecimal digits.
bool is_station_id(std::string_view text);

// The per-user settings: BarCode and NetIF as 32-bit numbers, MACHWID as 12 hexadecimal digits.
// Every operation opens the store, reads or writes, and closes it; nothing is held between
// calls. When the store cannot be created or read, the operation logs
// "Could not create the registry key.\r\n" and returns an error.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual int number_write(Log* log, std::string_view name, std::int32_t value) = 0;
  // Leaves `value` untouched unless 0 is returned.
  virtual int number_read(Log* log, std::string_view name, std::int32_t& value) = 0;
  virtual int machwid_write(Log* log, const MacDigits::Digits& digits) = 0;
  // Leaves `digits` untouched unless 0 is returned. kNotFound: there is no value. kBadValue:
  // there is one, but not 12 hexadecimal digits (either case); `found` (when not null) then
  // receives it as stored, characters as bytes, for the operator to be shown.
  virtual int machwid_read(Log* log, MacDigits::Digits& digits, std::string* found = nullptr) = 0;
  // Where the settings are kept, for the operator ("/home/op/.config/skav/settings.reg").
  virtual std::string place() const { return "the settings store"; }
  // The text of a result code of this store's calls ("No space left on device").
  virtual std::string error_text(int result) const {
    if (result == kBadValue) return "not 12 hexadecimal digits";
    return "error " + std::to_string(result);
  }
  // This station's identity (StationId, a string), made with make_station_id and stored the
  // first time it is asked for, and the same ever after: it tells the station's own work apart
  // in a line's database, where host names repeat on cloned PCs. A stored value that is not an
  // identity is replaced. 0 with `id` set; otherwise the store's error.
  virtual int station_id(Log* log, std::string& id) = 0;
};

}  // namespace skav::settings

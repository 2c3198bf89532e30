#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "core/log.h"
#include "core/mac_digits.h"

namespace skav::settings {

// Result codes: 0 success; otherwise an error number. A missing value is kNotFound.
inline constexpr int kOk = 0;
inline constexpr int kNotFound = 2;  // also the value of ENOENT and of the Windows not-found code

inline constexpr const char* kBarCode = "BarCode";
inline constexpr const char* kNetIF = "NetIF";
inline constexpr const char* kMachwid = "MACHWID";

// The per-user settings: BarCode and NetIF as 32-bit numbers, MACHWID as exactly 12 characters.
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
  // Leaves `digits` untouched unless 0 is returned. A stored value of other than 12
  // characters counts as missing.
  virtual int machwid_read(Log* log, MacDigits::Digits& digits) = 0;
};

}  // namespace skav::settings

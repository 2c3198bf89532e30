#include "windows/registry_settings_store.h"

#include <cstring>

namespace skav::windows {

RegistrySettingsStore::RegistrySettingsStore(HKEY root, std::string subkey)
    : root_(root), subkey_(std::move(subkey)) {}

LONG RegistrySettingsStore::open(Log* log, HKEY& key) const {
  DWORD disposition = 0;
  LONG result = RegCreateKeyExA(root_, subkey_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_READ | KEY_WRITE, nullptr, &key, &disposition);
  if (result != ERROR_SUCCESS) log_sink(log, "Could not create the registry key.\r\n");
  return result;
}

int RegistrySettingsStore::number_write(Log* log, std::string_view name, std::int32_t value) {
  HKEY key = nullptr;
  if (LONG result = open(log, key); result != ERROR_SUCCESS) return static_cast<int>(result);
  const std::string value_name(name);
  DWORD data = static_cast<DWORD>(value);
  LONG result = RegSetValueExA(key, value_name.c_str(), 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&data), sizeof data);
  RegCloseKey(key);
  return static_cast<int>(result);
}

int RegistrySettingsStore::number_read(Log* log, std::string_view name, std::int32_t& value) {
  HKEY key = nullptr;
  if (LONG result = open(log, key); result != ERROR_SUCCESS) return static_cast<int>(result);
  const std::string value_name(name);
  // A value shorter than 4 bytes replaces only its own bytes, as a read straight into the
  // destination would.
  DWORD data = static_cast<DWORD>(value);
  DWORD size = sizeof data;
  LONG result = RegQueryValueExA(key, value_name.c_str(), nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(&data), &size);
  RegCloseKey(key);
  if (result == ERROR_SUCCESS) value = static_cast<std::int32_t>(data);
  return static_cast<int>(result);
}

int RegistrySettingsStore::machwid_write(Log* log, const MacDigits::Digits& digits) {
  HKEY key = nullptr;
  if (LONG result = open(log, key); result != ERROR_SUCCESS) return static_cast<int>(result);
  LONG result = RegSetValueExA(key, settings::kMachwid, 0, REG_EXPAND_SZ,
                               reinterpret_cast<const BYTE*>(digits.data()),
                               static_cast<DWORD>(digits.size()));
  RegCloseKey(key);
  return static_cast<int>(result);
}

int RegistrySettingsStore::machwid_read(Log* log, MacDigits::Digits& digits) {
  HKEY key = nullptr;
  if (LONG result = open(log, key); result != ERROR_SUCCESS) return static_cast<int>(result);
  return read_machwid(key, digits);
}

int RegistrySettingsStore::station_id(Log* log, std::string& id) {
  HKEY key = nullptr;
  if (LONG result = open(log, key); result != ERROR_SUCCESS) return static_cast<int>(result);
  char data[64] = {};
  DWORD size = sizeof data - 1;
  LONG result = RegQueryValueExA(key, settings::kStationId, nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(data), &size);
  if (result == ERROR_SUCCESS && settings::is_station_id(std::string(data, strnlen(data, size)))) {
    RegCloseKey(key);
    id.assign(data, 32);
    return settings::kOk;
  }
  std::string made = settings::make_station_id();
  result = RegSetValueExA(key, settings::kStationId, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(made.c_str()),
                          static_cast<DWORD>(made.size() + 1));
  RegCloseKey(key);
  if (result == ERROR_SUCCESS) id = made;
  return static_cast<int>(result);
}

int RegistrySettingsStore::machwid_peek(MacDigits::Digits& digits) const {
  HKEY key = nullptr;
  if (LONG result = RegOpenKeyExA(root_, subkey_.c_str(), 0, KEY_READ, &key);
      result != ERROR_SUCCESS)
    return static_cast<int>(result);
  return read_machwid(key, digits);
}

int RegistrySettingsStore::read_machwid(HKEY key, MacDigits::Digits& digits) {
  // Room for the 12 characters and a terminating zero; anything longer is ERROR_MORE_DATA.
  char data[sizeof(MacDigits::Digits) + 1] = {};
  DWORD size = sizeof data;
  LONG result = RegQueryValueExA(key, settings::kMachwid, nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (result == ERROR_MORE_DATA) return settings::kNotFound;
  if (result != ERROR_SUCCESS) return static_cast<int>(result);
  std::size_t length = strnlen(data, size);
  if (length != digits.size()) return settings::kNotFound;
  std::memcpy(digits.data(), data, digits.size());
  return settings::kOk;
}

}  // namespace skav::windows

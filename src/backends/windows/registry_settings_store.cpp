#include "backends/windows/registry_settings_store.h"

#include <cstring>
#include <vector>

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
  // Twelve bytes without a terminating zero. For a string type RegSetValueExA also stores the
  // byte after the data when that byte is zero (it takes it for a forgotten terminator), so
  // the twelve are followed by one that is not: otherwise whatever followed the digits in
  // memory decided whether 12 or 13 bytes were stored.
  char data[sizeof(MacDigits::Digits) + 1];
  std::memcpy(data, digits.data(), digits.size());
  data[digits.size()] = '#';
  LONG result = RegSetValueExA(key, settings::kMachwid, 0, REG_EXPAND_SZ,
                               reinterpret_cast<const BYTE*>(data),
                               static_cast<DWORD>(digits.size()));
  RegCloseKey(key);
  return static_cast<int>(result);
}

int RegistrySettingsStore::machwid_read(Log* log, MacDigits::Digits& digits, std::string* found) {
  HKEY key = nullptr;
  if (LONG result = open(log, key); result != ERROR_SUCCESS) return static_cast<int>(result);
  return read_machwid(key, digits, found);
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

int RegistrySettingsStore::machwid_peek(MacDigits::Digits& digits, std::string* found) const {
  HKEY key = nullptr;
  if (LONG result = RegOpenKeyExA(root_, subkey_.c_str(), 0, KEY_READ, &key);
      result != ERROR_SUCCESS)
    return static_cast<int>(result);
  return read_machwid(key, digits, found);
}

std::string RegistrySettingsStore::place() const {
  if (root_ == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER\\" + subkey_;
  return subkey_;
}

std::string RegistrySettingsStore::error_text(int result) const {
  if (result == settings::kBadValue) return SettingsStore::error_text(result);
  char text[256] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(result), 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == '.'))
    --length;
  if (length == 0) return "error " + std::to_string(result);
  return std::string(text, length);
}

int RegistrySettingsStore::read_machwid(HKEY key, MacDigits::Digits& digits, std::string* found) {
  // A value of any length is read (up to a bound a hand-made value never reaches), so that one
  // that is there but wrong is told apart from one that is missing.
  constexpr DWORD kMostRead = 256;
  std::vector<char> data(kMostRead, 0);
  DWORD size = kMostRead;
  LONG result = RegQueryValueExA(key, settings::kMachwid, nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(data.data()), &size);
  RegCloseKey(key);
  if (result == ERROR_MORE_DATA) {
    // Far too long to be an address; what the buffer holds then is not defined.
    if (found != nullptr) found->clear();
    return settings::kBadValue;
  }
  if (result != ERROR_SUCCESS) return static_cast<int>(result);
  // The 12 characters and at most a terminating zero: anything after the zero is not a
  // string's.
  std::size_t length = strnlen(data.data(), size);
  MacDigits::Digits read{};
  for (std::size_t i = 0; i < read.size() && i < length; ++i) read[i] = data[i];
  if (length != digits.size() || size > digits.size() + 1 || !MacDigits::all_hex(read)) {
    if (found != nullptr) found->assign(data.data(), size > length + 1 ? size : length);
    return settings::kBadValue;
  }
  digits = read;
  return settings::kOk;
}

}  // namespace skav::windows

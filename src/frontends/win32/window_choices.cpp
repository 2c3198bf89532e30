#include "frontends/win32/window_choices.h"

#include <algorithm>

#include "core/platform/wide_windows.h"
#include "present/font_sizes.h"

namespace skav::windows::gui {

namespace {

// The groups and names of Qt's window's keys, so that both windows keep a choice by one name.
constexpr const char* kView = "view";
constexpr const char* kPorts = "ports";

std::string path_of(const std::string& key, const char* group) { return key + "\\" + group; }

}  // namespace

DWORD WindowChoices::number(const char* group, const char* name, DWORD fallback) const {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegGetValueA(HKEY_CURRENT_USER, path_of(key_, group).c_str(), name, RRF_RT_REG_DWORD, nullptr,
                   &value, &size) != ERROR_SUCCESS)
    return fallback;
  return value;
}

void WindowChoices::set_number(const char* group, const char* name, DWORD value) const {
  RegSetKeyValueA(HKEY_CURRENT_USER, path_of(key_, group).c_str(), name, REG_DWORD, &value,
                  sizeof value);
}

int WindowChoices::log_points() const {
  const auto stored = static_cast<int>(number(kView, "logPoints", present::kLogPoints));
  return present::zoomed_log_points(stored, 0);
}

void WindowChoices::set_log_points(int points) const {
  set_number(kView, "logPoints", static_cast<DWORD>(present::zoomed_log_points(points, 0)));
}

bool WindowChoices::sound() const { return number(kView, "sound", 1) != 0; }

void WindowChoices::set_sound(bool on) const { set_number(kView, "sound", on ? 1 : 0); }

bool WindowChoices::panel_shown() const { return number(kView, "operatorPanel", 1) != 0; }

void WindowChoices::set_panel_shown(bool shown) const {
  set_number(kView, "operatorPanel", shown ? 1 : 0);
}

std::vector<std::string> WindowChoices::ports() const {
  // A list of zero-terminated names ended by an empty one, in UTF-16 as the registry keeps it:
  // the ANSI calls would lose a name outside the code page.
  const std::wstring group = platform::wide_of(path_of(key_, kPorts));
  DWORD size = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, group.c_str(), L"adapters", RRF_RT_REG_MULTI_SZ, nullptr,
                   nullptr, &size) != ERROR_SUCCESS)
    return {};
  std::wstring units(size / sizeof(wchar_t) + 1, L'\0');
  if (RegGetValueW(HKEY_CURRENT_USER, group.c_str(), L"adapters", RRF_RT_REG_MULTI_SZ, nullptr,
                   units.data(), &size) != ERROR_SUCCESS)
    return {};
  units.resize(std::min<std::size_t>(size / sizeof(wchar_t), units.size()));
  std::vector<std::string> adapters;
  for (std::size_t start = 0; start < units.size();) {
    std::size_t end = units.find(L'\0', start);
    if (end == std::wstring::npos) end = units.size();
    if (end == start) break;
    adapters.push_back(platform::utf8_of_wide(std::wstring_view(units).substr(start, end - start)));
    start = end + 1;
  }
  return adapters;
}

void WindowChoices::set_ports(const std::vector<std::string>& adapters) const {
  const std::wstring group = platform::wide_of(path_of(key_, kPorts));
  if (adapters.size() < 2) {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, group.c_str(), L"adapters");
    return;
  }
  std::wstring units;
  for (const std::string& adapter : adapters) units.append(platform::wide_of(adapter)).push_back(L'\0');
  units.push_back(L'\0');
  RegSetKeyValueW(HKEY_CURRENT_USER, group.c_str(), L"adapters", REG_MULTI_SZ, units.data(),
                  static_cast<DWORD>(units.size() * sizeof(wchar_t)));
}

void WindowChoices::forget() const { RegDeleteTreeW(HKEY_CURRENT_USER, platform::wide_of(key_).c_str()); }

}  // namespace skav::windows::gui

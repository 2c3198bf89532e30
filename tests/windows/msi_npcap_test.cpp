// The MSI package's check for Npcap, evaluated by Windows Installer itself in a session of the
// package that tests/windows/msi_npcap.sh builds (SKAV_TEST_MSI names it): Npcap's uninstall
// entry is looked for in both registry views, and only an operator's full install without
// Npcap 1.00 or later is stopped. Writes Npcap's entry in HKLM of the Wine prefix.

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr const wchar_t* kNpcapKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\NpcapInst";

void forget_npcap() {
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kNpcapKey, KEY_WOW64_64KEY, 0);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kNpcapKey, KEY_WOW64_32KEY, 0);
}

// Registers Npcap `version` as its installer would, in the registry view `view`.
bool register_npcap(const std::wstring& version, REGSAM view) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kNpcapKey, 0, nullptr, 0, KEY_WRITE | view, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return false;
  const auto bytes = static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t));
  const bool written = RegSetValueExW(key, L"DisplayVersion", 0, REG_SZ,
                                      reinterpret_cast<const BYTE*>(version.c_str()), bytes) == ERROR_SUCCESS;
  RegCloseKey(key);
  return written;
}

std::wstring record_text(MSIHANDLE record, UINT field) {
  wchar_t text[1024] = {};
  DWORD size = static_cast<DWORD>(std::size(text));
  MsiRecordGetStringW(record, field, text, &size);
  return text;
}

struct Case {
  const char* name;
  const wchar_t* version;  // none: Npcap not registered
  REGSAM view;
  INSTALLUILEVEL ui;
  bool later;  // NPCAP=later given
  bool goes_on;
};

class MsiNpcapCheck : public ::testing::TestWithParam<Case> {
 protected:
  void TearDown() override { forget_npcap(); }
};

// Opens the package as msiexec would at `ui`, runs its registry search, and evaluates its launch
// condition that names Npcap: whether the install goes on.
::testing::AssertionResult install_goes_on(const Case& c, bool& goes_on) {
  const char* package = std::getenv("SKAV_TEST_MSI");
  if (package == nullptr) return ::testing::AssertionFailure() << "SKAV_TEST_MSI names no package";
  MsiSetInternalUI(c.ui, nullptr);
  MSIHANDLE session = 0;
  const std::wstring path(package, package + std::char_traits<char>::length(package));
  if (UINT error = MsiOpenPackageW(path.c_str(), &session); error != ERROR_SUCCESS)
    return ::testing::AssertionFailure() << "the package did not open: " << error;
  if (c.later) MsiSetPropertyW(session, L"NPCAP", L"later");
  if (UINT error = MsiDoActionW(session, L"AppSearch"); error != ERROR_SUCCESS) {
    MsiCloseHandle(session);
    return ::testing::AssertionFailure() << "AppSearch failed: " << error;
  }
  MSIHANDLE database = MsiGetActiveDatabase(session);
  MSIHANDLE view = 0;
  std::vector<std::wstring> conditions;
  if (MsiDatabaseOpenViewW(database, L"SELECT `Condition`, `Description` FROM `LaunchCondition`", &view) ==
          ERROR_SUCCESS &&
      MsiViewExecute(view, 0) == ERROR_SUCCESS) {
    MSIHANDLE record = 0;
    while (MsiViewFetch(view, &record) == ERROR_SUCCESS) {
      if (record_text(record, 2).find(L"Npcap") != std::wstring::npos) conditions.push_back(record_text(record, 1));
      MsiCloseHandle(record);
    }
  }
  bool all_true = true;
  for (const std::wstring& condition : conditions)
    all_true = all_true && MsiEvaluateConditionW(session, condition.c_str()) == MSICONDITION_TRUE;
  MsiCloseHandle(view);
  MsiCloseHandle(database);
  MsiCloseHandle(session);
  if (conditions.size() != 1)
    return ::testing::AssertionFailure() << conditions.size() << " launch conditions name Npcap";
  goes_on = all_true;
  return ::testing::AssertionSuccess();
}

TEST_P(MsiNpcapCheck, StopsOnlyAnOperatorsInstallWithoutAUsableNpcap) {
  const Case& c = GetParam();
  forget_npcap();
  if (c.version != nullptr) {
    ASSERT_TRUE(register_npcap(c.version, c.view));
  }
  bool goes_on = false;
  ASSERT_TRUE(install_goes_on(c, goes_on));
  EXPECT_EQ(goes_on, c.goes_on);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MsiNpcapCheck,
    ::testing::Values(
        Case{"Missing", nullptr, 0, INSTALLUILEVEL_FULL, false, false},
        Case{"Older", L"0.9986", KEY_WOW64_64KEY, INSTALLUILEVEL_FULL, false, false},
        Case{"Oldest", L"1.00", KEY_WOW64_64KEY, INSTALLUILEVEL_FULL, false, true},
        Case{"Later", L"1.79", KEY_WOW64_64KEY, INSTALLUILEVEL_FULL, false, true},
        Case{"ByA32BitInstaller", L"1.79", KEY_WOW64_32KEY, INSTALLUILEVEL_FULL, false, true},
        Case{"OlderByA32BitInstaller", L"0.9986", KEY_WOW64_32KEY, INSTALLUILEVEL_FULL, false, false},
        Case{"MissingButLaterOnPurpose", nullptr, 0, INSTALLUILEVEL_FULL, true, true},
        Case{"MissingInAQuietInstall", nullptr, 0, INSTALLUILEVEL_NONE, false, true},
        Case{"OlderInABasicInstall", L"0.9986", KEY_WOW64_64KEY, INSTALLUILEVEL_BASIC, false, true}),
    [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

}  // namespace

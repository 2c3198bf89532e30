#include "backends/windows/registry_settings_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace skav::windows {
namespace {

// A key of its own under HKEY_CURRENT_USER, so that a run on a real PC leaves the station's
// settings alone; removed before and after each test.
constexpr const char* kTestKey = "Software\\SKAV-tests";

struct RawValue {
  LONG result = 0;
  DWORD type = 0;
  std::vector<unsigned char> data;
};

RawValue raw_value(const char* name) {
  RawValue raw;
  raw.data.resize(64);
  DWORD size = static_cast<DWORD>(raw.data.size());
  raw.result = RegGetValueA(HKEY_CURRENT_USER, kTestKey, name, RRF_RT_ANY | RRF_NOEXPAND,
                            &raw.type, raw.data.data(), &size);
  raw.data.resize(raw.result == ERROR_SUCCESS ? size : 0);
  return raw;
}

void set_raw(const char* name, DWORD type, const void* data, DWORD size) {
  ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, kTestKey, name, type, data, size), ERROR_SUCCESS);
}

class RegistryStore : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, kTestKey); }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kTestKey); }
  RegistrySettingsStore store_{HKEY_CURRENT_USER, kTestKey};
  StringLog log_;
};

TEST_F(RegistryStore, TheStationIdentityIsMadeOnceAsAStringAndKept) {
  std::string id, again;
  ASSERT_EQ(store_.station_id(&log_, id), ERROR_SUCCESS);
  EXPECT_TRUE(settings::is_station_id(id)) << id;
  RawValue raw = raw_value(settings::kStationId);
  EXPECT_EQ(raw.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(raw.data.data())), id);
  EXPECT_EQ(RegistrySettingsStore(HKEY_CURRENT_USER, kTestKey).station_id(&log_, again), ERROR_SUCCESS);
  EXPECT_EQ(again, id);
}

TEST_F(RegistryStore, FirstUseCreatesTheKeyAndAMissingValueIsRepairedByWritingIt) {
  std::int32_t value = 7;
  EXPECT_EQ(store_.number_read(&log_, settings::kBarCode, value), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(value, 7);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kTestKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(store_.number_write(&log_, settings::kBarCode, 1), 0);
  EXPECT_EQ(store_.number_read(&log_, settings::kBarCode, value), 0);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(log_.text(), "");
}

TEST_F(RegistryStore, NumbersAreFourByteDwordsAndMinusOneSetsAll32Bits) {
  const std::int32_t values[] = {0, 1, 15, -1, INT32_MIN};
  for (std::int32_t v : values) {
    ASSERT_EQ(store_.number_write(&log_, settings::kNetIF, v), 0);
    RawValue raw = raw_value(settings::kNetIF);
    ASSERT_EQ(raw.result, ERROR_SUCCESS);
    EXPECT_EQ(raw.type, static_cast<DWORD>(REG_DWORD));
    ASSERT_EQ(raw.data.size(), 4u);
    DWORD stored;
    std::memcpy(&stored, raw.data.data(), 4);
    EXPECT_EQ(stored, static_cast<DWORD>(v));
    std::int32_t back = 12345;
    EXPECT_EQ(store_.number_read(&log_, settings::kNetIF, back), 0);
    EXPECT_EQ(back, v);
  }
}

TEST_F(RegistryStore, MachwidIsTwelveBytesOfExpandSzWithoutATerminatingZero) {
  const MacDigits::Digits digits = MacDigits::kDefault;
  ASSERT_EQ(store_.machwid_write(&log_, digits), 0);
  RawValue raw = raw_value(settings::kMachwid);
  ASSERT_EQ(raw.result, ERROR_SUCCESS);
  EXPECT_EQ(raw.type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(std::string(raw.data.begin(), raw.data.end()), "001122334455");
  MacDigits::Digits back{};
  EXPECT_EQ(store_.machwid_read(&log_, back), 0);
  EXPECT_EQ(back, digits);
}

// Reads do not look at the type; a value other than 12 hexadecimal digits is there, but bad:
// told apart from a missing one, with what was found.
TEST_F(RegistryStore, MachwidReadTakesAnyTypeButOnlyTwelveHexadecimalDigits) {
  struct Case {
    const char* name;
    DWORD type;
    std::string data;
    int result;
    std::string found;
  };
  const Case cases[] = {
      {"REG_SZ with its zero", REG_SZ, std::string("A1B2C3D4E5F6", 13), 0, ""},
      {"REG_BINARY", REG_BINARY, "A1B2C3D4E5F6", 0, ""},
      {"lower case", REG_EXPAND_SZ, "a1b2c3d4e5f6", 0, ""},
      {"eleven characters", REG_EXPAND_SZ, "A1B2C3D4E5F", settings::kBadValue, "A1B2C3D4E5F"},
      {"thirteen characters", REG_EXPAND_SZ, "A1B2C3D4E5F60", settings::kBadValue, "A1B2C3D4E5F60"},
      {"not hexadecimal", REG_EXPAND_SZ, "A1B2C3D4E5FG", settings::kBadValue, "A1B2C3D4E5FG"},
      {"twelve then a zero then more", REG_BINARY, std::string("A1B2C3D4E5F6\0X", 14),
       settings::kBadValue, std::string("A1B2C3D4E5F6\0X", 14)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    set_raw(settings::kMachwid, c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
    MacDigits::Digits digits = MacDigits::kDefault;
    std::string found;
    EXPECT_EQ(store_.machwid_read(&log_, digits, &found), c.result);
    EXPECT_EQ(found, c.found);
    if (c.result == 0) {
      EXPECT_EQ(std::string(digits.data(), 12), c.data.substr(0, 12));
    } else {
      EXPECT_EQ(digits, MacDigits::kDefault);
    }
  }
  RegDeleteKeyValueA(HKEY_CURRENT_USER, kTestKey, settings::kMachwid);
  MacDigits::Digits digits = MacDigits::kDefault;
  EXPECT_EQ(store_.machwid_read(&log_, digits), ERROR_FILE_NOT_FOUND) << "only a missing value";
}

TEST_F(RegistryStore, NumberReadTakesAnyTypeOfAtMostFourBytes) {
  const char four[] = "\x01\x02\x03\x04";
  set_raw(settings::kBarCode, REG_BINARY, four, 4);
  std::int32_t value = 0;
  EXPECT_EQ(store_.number_read(&log_, settings::kBarCode, value), 0);
  EXPECT_EQ(value, 0x04030201);
  set_raw(settings::kBarCode, REG_QWORD, "\x01\x02\x03\x04\x05\x06\x07\x08", 8);
  value = 9;
  EXPECT_EQ(store_.number_read(&log_, settings::kBarCode, value), ERROR_MORE_DATA);
  EXPECT_EQ(value, 9);
}

TEST(RegistryStoreFailure, AKeyThatCannotBeCreatedIsLoggedAndLeavesTheValueAlone) {
  // No such root: RegCreateKeyExA fails as it would without access.
  RegistrySettingsStore store(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234)), kTestKey);
  StringLog log;
  std::int32_t value = 5;
  MacDigits::Digits digits = MacDigits::kDefault;
  EXPECT_NE(store.number_read(&log, settings::kBarCode, value), 0);
  EXPECT_NE(store.number_write(&log, settings::kBarCode, 1), 0);
  EXPECT_NE(store.machwid_read(&log, digits), 0);
  EXPECT_NE(store.machwid_write(&log, digits), 0);
  EXPECT_EQ(value, 5);
  EXPECT_EQ(digits, MacDigits::kDefault);
  std::string once = "Could not create the registry key.\r\n";
  EXPECT_EQ(log.text(), once + once + once + once);
}

}  // namespace
}  // namespace skav::windows

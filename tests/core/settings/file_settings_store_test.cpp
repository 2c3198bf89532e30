#include "core/settings/file_settings_store.h"

#include <gtest/gtest.h>

#include <array>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/rig.h"
#include "support/start_gate.h"
#include "support/temp_dir.h"

namespace skav::settings {
namespace {

using test::read_file;

// The whole content of a file, byte for byte.
constexpr const char* kMessage = "Could not create the registry key.\r\n";
constexpr const char* kHeader =
    "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\SKAV]\r\n";

using test::digits_of;

std::string text_of(const MacDigits::Digits& d) { return std::string(d.data(), d.size()); }

// The MACHWID line of 001122334455 as a registry export writes it: UTF-16 LE with its zero.
constexpr const char* kMachwidLine =
    "\"MACHWID\"=hex(2):30,00,30,00,31,00,31,00,32,00,32,00,33,00,33,00,34,00,34,00,35,00,35,00,"
    "00,00\r\n";

// A registry export's bytes: a UTF-16 LE byte-order mark, then each UTF-16 unit low byte first.
std::string utf16le_file(std::u16string_view text) {
  std::string out = "\xFF\xFE";
  for (char16_t unit : text) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  }
  return out;
}

class FileSettingsStoreTest : public ::testing::Test {
 protected:
  std::filesystem::path store_path() const { return folder_ / "settings.reg"; }
  // Writes the store file by hand, as a person editing it would.
  void write_store(const std::string& content) { folder_.write("settings.reg", content); }
  std::string store_text() const { return read_file(folder_ / "settings.reg"); }

  test::TempDir folder_;
  StringLog log_;
  FileSettingsStore store_{store_path()};
};

TEST_F(FileSettingsStoreTest, FirstUseCreatesTheStoreAndItsFolderWithoutAMessage) {
  FileSettingsStore store(folder_ / "new" / "deeper" / "settings.reg");
  std::int32_t value = 42;
  EXPECT_EQ(store.number_read(&log_, kBarCode, value), kNotFound);
  EXPECT_EQ(value, 42);
  EXPECT_EQ(log_.text(), "");
  EXPECT_EQ(read_file(folder_ / "new/deeper/settings.reg"), kHeader);
}

TEST_F(FileSettingsStoreTest, ValuesRoundTripWithTheirTypesInTheRegistryExportFormat) {
  EXPECT_EQ(store_.number_write(&log_, kBarCode, 1), kOk);
  EXPECT_EQ(store_.number_write(&log_, kNetIF, 0), kOk);
  EXPECT_EQ(store_.machwid_write(&log_, digits_of("001122334455")), kOk);
  EXPECT_EQ(store_text(), std::string(kHeader) +
                              "\"BarCode\"=dword:00000001\r\n"
                              "\"NetIF\"=dword:00000000\r\n" +
                              kMachwidLine);
  std::int32_t barcode = -5;
  std::int32_t netif = -5;
  MacDigits::Digits digits = digits_of("XXXXXXXXXXXX");
  EXPECT_EQ(store_.number_read(&log_, kBarCode, barcode), kOk);
  EXPECT_EQ(store_.number_read(&log_, kNetIF, netif), kOk);
  EXPECT_EQ(store_.machwid_read(&log_, digits), kOk);
  EXPECT_EQ(barcode, 1);
  EXPECT_EQ(netif, 0);
  EXPECT_EQ(text_of(digits), "001122334455");
  EXPECT_EQ(log_.text(), "");
}

TEST_F(FileSettingsStoreTest, TheStationIdentityIsMadeOnceAndKeptBesideTheOtherValues) {
  store_.number_write(&log_, kBarCode, 1);
  std::string id, again;
  ASSERT_EQ(store_.station_id(&log_, id), kOk);
  EXPECT_TRUE(is_station_id(id)) << id;
  EXPECT_NE(store_text().find("\"StationId\"=\"" + id + "\"\r\n"), std::string::npos) << store_text();
  EXPECT_EQ(FileSettingsStore(store_path()).station_id(&log_, again), kOk);
  EXPECT_EQ(again, id);
  // One that is no identity (a hand-edited store) is replaced.
  write_store(std::string(kHeader) + "\"StationId\"=\"station-7\"\r\n");
  ASSERT_EQ(store_.station_id(&log_, again), kOk);
  EXPECT_NE(again, id);
  EXPECT_TRUE(is_station_id(again)) << again;
  EXPECT_EQ(log_.text(), "");
}

TEST_F(FileSettingsStoreTest, RewritingAValueReplacesItInPlace) {
  store_.number_write(&log_, kNetIF, 3);
  store_.machwid_write(&log_, digits_of("001122334455"));
  store_.number_write(&log_, "netif", 7);  // names match without regard to case
  std::int32_t netif = 0;
  EXPECT_EQ(store_.number_read(&log_, kNetIF, netif), kOk);
  EXPECT_EQ(netif, 7);
  EXPECT_EQ(store_text(), std::string(kHeader) + "\"NetIF\"=dword:00000007\r\n" + kMachwidLine);
}

TEST_F(FileSettingsStoreTest, MinusOneIsStoredWithAll32BitsSetAndReadBack) {
  EXPECT_EQ(store_.number_write(&log_, kNetIF, -1), kOk);
  EXPECT_NE(store_text().find("\"NetIF\"=dword:ffffffff\r\n"), std::string::npos);
  std::int32_t value = 0;
  EXPECT_EQ(store_.number_read(&log_, kNetIF, value), kOk);
  EXPECT_EQ(value, -1);
}

TEST_F(FileSettingsStoreTest, MissingValueLeavesTheDestinationUntouched) {
  store_.number_write(&log_, kBarCode, 1);
  std::int32_t value = 99;
  MacDigits::Digits digits = digits_of("ABCDEFABCDEF");
  EXPECT_EQ(store_.number_read(&log_, kNetIF, value), kNotFound);
  EXPECT_EQ(store_.machwid_read(&log_, digits), kNotFound);
  EXPECT_EQ(value, 99);
  EXPECT_EQ(text_of(digits), "ABCDEFABCDEF");
  EXPECT_EQ(log_.text(), "");
}

// A value that is there but not 12 hexadecimal digits is not a missing one: it is told apart,
// with what was found, so that the line never starts again at the default.
TEST_F(FileSettingsStoreTest, MachwidOtherThanTwelveHexDigitsIsABadValueAndOnlyADeletedOneIsMissing) {
  struct Case {
    const char* data;
    int result;
    const char* found;
  };
  const Case cases[] = {
      {"hex(2):30,30,31,31,32,32,33,33,34,34,35", kBadValue, "00112233445"},
      {"hex(2):30,30,31,31,32,32,33,33,34,34,35,35,36", kBadValue, "0011223344556"},
      {"hex(2):30,30,31,31,32,32,33,00,34,34,35,35", kBadValue, "0011223"},  // ends early
      {"\"00112233445G\"", kBadValue, "00112233445G"},
      {"dword:00000001", kBadValue, "\x01"},
      {"\"0011\"", kBadValue, "0011"},
      {"-", kNotFound, ""},
  };
  for (const Case& c : cases) {
    write_store(std::string(kHeader) + "\"MACHWID\"=" + c.data + "\r\n");
    MacDigits::Digits digits = digits_of("ABCDEFABCDEF");
    std::string found;
    EXPECT_EQ(store_.machwid_read(&log_, digits, &found), c.result) << c.data;
    EXPECT_EQ(found, c.found) << c.data;
    EXPECT_EQ(text_of(digits), "ABCDEFABCDEF") << c.data;
    found.clear();
    EXPECT_EQ(store_.machwid_peek(digits, &found), c.result) << c.data;
    EXPECT_EQ(found, c.found) << c.data;
  }
  EXPECT_EQ(log_.text(), "");
}

TEST_F(FileSettingsStoreTest, MachwidWrittenByOtherToolsIsRead) {
  for (const char* data :
       {"hex(2):30,30,31,31,32,32,33,33,34,34,35,35",     // the 12 bytes written before
        "hex(2):30,30,31,31,32,32,33,33,34,34,35,35,00",  // with a terminating zero
        "hex(2):30,00,30,00,31,00,31,00,32,00,32,00,33,00,33,00,34,00,34,00,35,00,35,00,00,00",
        "hex(2):30,00,30,00,31,00,31,00,32,00,32,00,33,00,33,00,34,00,34,00,35,00,35,00",
        "\"001122334455\""}) {
    write_store(std::string(kHeader) + "\"MACHWID\"=" + data + "\r\n");
    MacDigits::Digits digits = digits_of("ABCDEFABCDEF");
    EXPECT_EQ(store_.machwid_read(&log_, digits), kOk) << data;
    EXPECT_EQ(text_of(digits), "001122334455") << data;
  }
}

TEST_F(FileSettingsStoreTest, HandEditedStoreIsReadAndItsOtherContentSurvivesAWrite) {
  write_store(
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "; edited by hand\n"
      "[HKEY_CURRENT_USER\\Software\\Other]\n"
      "\"Keep\"=\"me \\\"quoted\\\"\"\n"
      "\n"
      "[HKEY_CURRENT_USER\\Software\\skav]\n"
      "\"barcode\" = dword:0\n"
      "\"Note\"=hex:01,02,\\\n"
      "  03\n");
  std::int32_t barcode = 5;
  EXPECT_EQ(store_.number_read(&log_, kBarCode, barcode), kOk);
  EXPECT_EQ(barcode, 0);
  EXPECT_EQ(store_.number_write(&log_, kNetIF, 2), kOk);
  EXPECT_EQ(store_text(),
            "Windows Registry Editor Version 5.00\r\n"
            "\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n"
            "\"Keep\"=\"me \\\"quoted\\\"\"\r\n"
            "\r\n[HKEY_CURRENT_USER\\Software\\skav]\r\n"
            "\"barcode\"=dword:0\r\n"
            "\"Note\"=hex:01,02,03\r\n"
            "\"NetIF\"=dword:00000002\r\n");
  EXPECT_EQ(log_.text(), "");
}

TEST_F(FileSettingsStoreTest, Utf16ExportIsReadAndWrittenBackInUtf16) {
  // As regedit exports it: UTF-16 LE, a long hex(2) value continued on the next line, another
  // key with letters outside ASCII that must come back unchanged.
  write_store(utf16le_file(
      u"Windows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_CURRENT_USER\\Software\\M\u00fcller]\r\n"
      u"\"Preis\"=\"5 \u20ac \U0001F600\"\r\n\r\n"
      u"[HKEY_CURRENT_USER\\Software\\SKAV]\r\n"
      u"\"BarCode\"=dword:00000001\r\n"
      u"\"MACHWID\"=hex(2):30,00,30,00,31,00,31,00,32,00,32,00,33,00,33,00,34,00,34,00,35,\\\r\n"
      u"  00,35,00,00,00\r\n\r\n"));
  std::int32_t barcode = 0;
  MacDigits::Digits digits = digits_of("XXXXXXXXXXXX");
  EXPECT_EQ(store_.number_read(&log_, kBarCode, barcode), kOk);
  EXPECT_EQ(store_.machwid_read(&log_, digits), kOk);
  EXPECT_EQ(barcode, 1);
  EXPECT_EQ(text_of(digits), "001122334455");

  EXPECT_EQ(store_.number_write(&log_, kNetIF, 2), kOk);
  EXPECT_EQ(store_.machwid_write(&log_, digits_of("001122334456")), kOk);
  const std::string written = store_text();
  EXPECT_EQ(written.substr(0, 10), std::string("\xFF\xFEW\0i\0n\0d\0", 10));
  EXPECT_EQ(written,
            utf16le_file(u"Windows Registry Editor Version 5.00\r\n\r\n"
                         u"[HKEY_CURRENT_USER\\Software\\M\u00fcller]\r\n"
                         u"\"Preis\"=\"5 \u20ac \U0001F600\"\r\n\r\n"
                         u"[HKEY_CURRENT_USER\\Software\\SKAV]\r\n"
                         u"\"BarCode\"=dword:00000001\r\n"
                         u"\"MACHWID\"=hex(2):30,00,30,00,31,00,31,00,32,00,32,00,33,00,33,00,34,"
                         u"00,34,00,35,00,36,00,00,00\r\n"
                         u"\"NetIF\"=dword:00000002\r\n"));
  EXPECT_EQ(log_.text(), "");
}

TEST_F(FileSettingsStoreTest, ByteOrderMarkOfUtf8IsKeptAndANewStoreHasNone) {
  write_store("\xEF\xBB\xBF" + std::string(kHeader));
  EXPECT_EQ(store_.number_write(&log_, kNetIF, 1), kOk);
  EXPECT_EQ(store_text(), "\xEF\xBB\xBF" + std::string(kHeader) + "\"NetIF\"=dword:00000001\r\n");

  FileSettingsStore fresh(folder_ / "fresh.reg");
  EXPECT_EQ(fresh.number_write(&log_, kNetIF, 1), kOk);
  EXPECT_EQ(read_file(folder_ / "fresh.reg"),
            std::string(kHeader) + "\"NetIF\"=dword:00000001\r\n");
  EXPECT_EQ(log_.text(), "");
}

TEST_F(FileSettingsStoreTest, EmptyFileIsAStoreWithoutValues) {
  for (const std::string& empty : {std::string(), std::string("\xFF\xFE")}) {
    write_store(empty);
    std::int32_t value = 5;
    MacDigits::Digits digits = digits_of("ABCDEFABCDEF");
    EXPECT_EQ(store_.number_read(&log_, kBarCode, value), kNotFound);
    EXPECT_EQ(store_.machwid_read(&log_, digits), kNotFound);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(store_text(), empty);  // reading does not fill it in
    EXPECT_EQ(store_.number_write(&log_, kBarCode, 1), kOk);
    const std::string expected = std::string(kHeader) + "\"BarCode\"=dword:00000001\r\n";
    if (empty.empty()) {
      EXPECT_EQ(store_text(), expected);
    } else {
      EXPECT_EQ(store_text(), utf16le_file(std::u16string(expected.begin(), expected.end())));
    }
  }
  EXPECT_EQ(log_.text(), "");
}

// As an import into a registry: the last line of a value counts, a second heading continues the
// key, and a heading [-key] deletes what came before it.
TEST_F(FileSettingsStoreTest, LastCopyOfAValueCountsAndAWriteReplacesEveryCopy) {
  write_store(std::string(kHeader) +
              "\"NetIF\"=dword:00000001\r\n"
              "\"NetIF\"=dword:00000002\r\n"
              "\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n"
              "\"NetIF\"=dword:00000009\r\n"
              "\r\n[HKEY_CURRENT_USER\\SOFTWARE\\skav]\r\n"
              "\"BarCode\"=dword:00000000\r\n"
              "\"netif\"=dword:00000003\r\n");
  std::int32_t netif = 0;
  std::int32_t barcode = 7;
  EXPECT_EQ(store_.number_read(&log_, kNetIF, netif), kOk);
  EXPECT_EQ(store_.number_read(&log_, kBarCode, barcode), kOk);
  EXPECT_EQ(netif, 3);
  EXPECT_EQ(barcode, 0);

  EXPECT_EQ(store_.number_write(&log_, kNetIF, 4), kOk);
  EXPECT_EQ(store_text(), std::string(kHeader) +
                              "\"NetIF\"=dword:00000004\r\n"
                              "\"NetIF\"=dword:00000004\r\n"
                              "\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n"
                              "\"NetIF\"=dword:00000009\r\n"
                              "\r\n[HKEY_CURRENT_USER\\SOFTWARE\\skav]\r\n"
                              "\"BarCode\"=dword:00000000\r\n"
                              "\"netif\"=dword:00000004\r\n");
  EXPECT_EQ(log_.text(), "");
}

TEST_F(FileSettingsStoreTest, DeletingHeadingDropsTheValuesBeforeItAndAWriteComesAfterIt) {
  for (const char* deleted :
       {"-HKEY_CURRENT_USER\\Software\\SKAV", "-HKEY_CURRENT_USER\\Software"}) {
    const std::string before =
        std::string(kHeader) + "\"NetIF\"=dword:00000001\r\n\r\n[" + deleted + "]\r\n";
    write_store(before);
    std::int32_t netif = 8;
    EXPECT_EQ(store_.number_read(&log_, kNetIF, netif), kNotFound) << deleted;
    EXPECT_EQ(netif, 8);
    EXPECT_EQ(store_.number_write(&log_, kNetIF, 5), kOk);
    EXPECT_EQ(store_text(), std::string(kHeader) + "\"NetIF\"=dword:00000005\r\n\r\n[" + deleted +
                                "]\r\n\r\n[HKEY_CURRENT_USER\\Software\\SKAV]\r\n"
                                "\"NetIF\"=dword:00000005\r\n")
        << deleted;
    EXPECT_EQ(store_.number_read(&log_, kNetIF, netif), kOk);
    EXPECT_EQ(netif, 5);
  }
  // A subkey's deletion leaves the station's values alone.
  write_store(std::string(kHeader) +
              "\"NetIF\"=dword:00000001\r\n\r\n[-HKEY_CURRENT_USER\\Software\\SKAV\\Sub]\r\n");
  std::int32_t netif = 0;
  EXPECT_EQ(store_.number_read(&log_, kNetIF, netif), kOk);
  EXPECT_EQ(netif, 1);
  EXPECT_EQ(log_.text(), "");
}

TEST_F(FileSettingsStoreTest, NumberOfAnotherTypeCountsAsMissing) {
  write_store(std::string(kHeader) + "\"BarCode\"=\"1\"\r\n\"NetIF\"=hex:01,00,00,00\r\n");
  std::int32_t value = 9;
  EXPECT_EQ(store_.number_read(&log_, kBarCode, value), kNotFound);
  EXPECT_EQ(value, 9);
  EXPECT_EQ(store_.number_read(&log_, kNetIF, value), kOk);  // four bytes of binary data
  EXPECT_EQ(value, 1);
}

// A store that exists but cannot be understood must reach the operator as a message, and must
// survive every later call unchanged.
void expect_refused_and_untouched(FileSettingsStore& store, StringLog& log,
                                  const std::function<std::string()>& snapshot) {
  const std::string before = snapshot();
  std::int32_t value = 7;
  MacDigits::Digits digits = digits_of("ABCDEFABCDEF");
  int results[] = {store.number_read(&log, kBarCode, value), store.machwid_read(&log, digits),
                   store.number_write(&log, kBarCode, 1),
                   store.machwid_write(&log, digits_of("001122334455"))};
  for (int result : results) {
    EXPECT_NE(result, kOk);
    EXPECT_NE(result, kNotFound);
  }
  EXPECT_EQ(value, 7);
  EXPECT_EQ(text_of(digits), "ABCDEFABCDEF");
  std::string expected;
  for (int i = 0; i < 4; ++i) expected += kMessage;
  EXPECT_EQ(log.text(), expected);
  EXPECT_EQ(snapshot(), before);
}

TEST_F(FileSettingsStoreTest, GarbageStoreGivesTheMessageAndIsNeverOverwritten) {
  for (std::string garbage :
       {std::string("\x7f\x45LF\x00\x01binary", 12), std::string("BarCode=1\n"),
        std::string("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software\\SKAV]\n"
                    "\"BarCode\"=dword:zz\n"),
        std::string("Windows Registry Editor Version 5.00\n\"BarCode\"=dword:1\n"),
        std::string("\xFF\xFEW\0i\0n\0", 7),       // UTF-16 cut in a character
        std::string("\xFF\xFEW\0\x00\xD8i\0", 8),  // a lone surrogate
        std::string("\xFE\xFF\0W\0i\0n", 8),       // UTF-16 big-endian
        std::string("\n\r\n")}) {
    write_store(garbage);
    log_.clear();
    expect_refused_and_untouched(store_, log_, [&] { return store_text(); });
  }
}

TEST_F(FileSettingsStoreTest, FolderInPlaceOfTheStoreGivesTheMessageAndStaysAFolder) {
  std::filesystem::create_directory(store_path());
  folder_.write("settings.reg/inside", "x");
  expect_refused_and_untouched(store_, log_, [&] {
    return std::to_string(std::filesystem::is_directory(store_path())) +
           read_file(folder_ / "settings.reg/inside");
  });
}

TEST_F(FileSettingsStoreTest, WriteInterruptedBeforeItsRenameKeepsThePreviousStore) {
  store_.number_write(&log_, kBarCode, 1);
  store_.machwid_write(&log_, digits_of("001122334455"));
  const std::string before = store_text();
  // What a crash between writing the temporary file and renaming it leaves behind.
  folder_.write(store_.temp_path().filename().string(), "Windows Registry Editor Ver");

  std::int32_t barcode = 0;
  MacDigits::Digits digits{};
  EXPECT_EQ(store_.number_read(&log_, kBarCode, barcode), kOk);
  EXPECT_EQ(store_.machwid_read(&log_, digits), kOk);
  EXPECT_EQ(barcode, 1);
  EXPECT_EQ(text_of(digits), "001122334455");
  EXPECT_EQ(store_text(), before);

  EXPECT_EQ(store_.number_write(&log_, kNetIF, 4), kOk);
  EXPECT_FALSE(std::filesystem::exists(store_.temp_path()));
  EXPECT_EQ(store_text(), before + "\"NetIF\"=dword:00000004\r\n");
  EXPECT_EQ(log_.text(), "");
}

TEST_F(FileSettingsStoreTest, ConcurrentWritersFromTwoThreadsKeepBothValues) {
  constexpr int kRounds = 25;
  // Both start together.
  test::StartGate gate(2);
  auto arrive_and_wait = [&] { gate.arrive_and_wait(); };
  // Separate store objects, as two processes would have.
  std::thread numbers([&] {
    FileSettingsStore store(store_path());
    arrive_and_wait();
    for (int i = 1; i <= kRounds; ++i) store.number_write(&log_, kNetIF, i);
  });
  std::thread addresses([&] {
    FileSettingsStore store(store_path());
    arrive_and_wait();
    for (int i = 1; i <= kRounds; ++i) {
      char text[13];
      std::snprintf(text, sizeof text, "%012d", i);
      store.machwid_write(&log_, digits_of(text));
      store.number_write(&log_, kBarCode, -i);
    }
  });
  numbers.join();
  addresses.join();

  std::int32_t netif = 0;
  std::int32_t barcode = 0;
  MacDigits::Digits digits{};
  EXPECT_EQ(store_.number_read(&log_, kNetIF, netif), kOk);
  EXPECT_EQ(store_.number_read(&log_, kBarCode, barcode), kOk);
  EXPECT_EQ(store_.machwid_read(&log_, digits), kOk);
  EXPECT_EQ(netif, kRounds);
  EXPECT_EQ(barcode, -kRounds);
  EXPECT_EQ(text_of(digits), "000000000025");
  EXPECT_EQ(log_.text(), "");
}

#ifndef _WIN32
class DefaultPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kNames) {
      const char* value = std::getenv(name);
      saved_.push_back(value != nullptr ? std::optional<std::string>(value) : std::nullopt);
      ::unsetenv(name);
    }
  }
  void TearDown() override {
    for (std::size_t i = 0; i < kNames.size(); ++i) {
      if (saved_[i])
        ::setenv(kNames[i], saved_[i]->c_str(), 1);
      else
        ::unsetenv(kNames[i]);
    }
  }
  static constexpr std::array<const char*, 3> kNames = {"SKAV_SETTINGS", "XDG_CONFIG_HOME", "HOME"};
  std::vector<std::optional<std::string>> saved_;
};

TEST_F(DefaultPathTest, ExplicitVariableThenXdgConfigHomeThenHome) {
  ::setenv("HOME", "/home/op", 1);
  EXPECT_EQ(FileSettingsStore::default_path(), "/home/op/.config/skav/settings.reg");
  ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  EXPECT_EQ(FileSettingsStore::default_path(), "/home/op/.config/skav/settings.reg");
  ::setenv("XDG_CONFIG_HOME", "/xdg", 1);
  EXPECT_EQ(FileSettingsStore::default_path(), "/xdg/skav/settings.reg");
  ::setenv("SKAV_SETTINGS", "/tmp/station.reg", 1);
  EXPECT_EQ(FileSettingsStore::default_path(), "/tmp/station.reg");
}

TEST_F(DefaultPathTest, ASimulationKeepsOffTheRealStoreUnlessAStoreIsNamed) {
  ::setenv("HOME", "/home/op", 1);
  EXPECT_EQ(FileSettingsStore::path_for("", true), "/home/op/.config/skav/simulate.reg");
  EXPECT_EQ(FileSettingsStore::path_for("", false), "/home/op/.config/skav/settings.reg");
  EXPECT_EQ(FileSettingsStore::path_for("/tmp/given.reg", true), "/tmp/given.reg");
  ::setenv("SKAV_SETTINGS", "", 1);  // empty counts as not set
  EXPECT_EQ(FileSettingsStore::path_for("", true), "/home/op/.config/skav/simulate.reg");
  ::setenv("SKAV_SETTINGS", "/tmp/station.reg", 1);
  EXPECT_EQ(FileSettingsStore::path_for("", true), "/tmp/station.reg");
}

#else
// On Windows the per-user folder is %APPDATA%.
TEST(DefaultPathWindows, ExplicitVariableThenAppData) {
  const char* saved = std::getenv("APPDATA");
  const std::string appdata = saved != nullptr ? saved : "";
  _putenv_s("SKAV_SETTINGS", "");
  _putenv_s("APPDATA", "C:\\Users\\op\\AppData\\Roaming");
  EXPECT_EQ(FileSettingsStore::default_path(),
            std::filesystem::path("C:\\Users\\op\\AppData\\Roaming") / "skav" / "settings.reg");
  EXPECT_EQ(FileSettingsStore::path_for("", true).filename(), "simulate.reg");
  _putenv_s("SKAV_SETTINGS", "C:\\station.reg");
  EXPECT_EQ(FileSettingsStore::default_path(), "C:\\station.reg");
  _putenv_s("SKAV_SETTINGS", "");
  _putenv_s("APPDATA", appdata.c_str());
}
#endif

}  // namespace
}  // namespace skav::settings

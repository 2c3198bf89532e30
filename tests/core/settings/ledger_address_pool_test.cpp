#include "core/settings/ledger_address_pool.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "core/settings/file_settings_store.h"
#include "core/settings/store_address_pool.h"
#include "support/temp_dir.h"
#include "support/digits.h"

namespace skav::settings {
namespace {

using test::digits;

// One account's station: its own settings file, the PC's ledger.
struct Station {
  Station(const std::filesystem::path& settings, const std::filesystem::path& ledger,
          const std::string& account)
      : store(settings) {
    auto inner = std::make_unique<StoreAddressPool>(store);
    pool = std::make_unique<LedgerAddressPool>(
        std::move(inner), std::make_unique<AddressLedger>(ledger, account, [] { return std::string("T1"); }));
  }
  PoolResult<Reservation> reserve(const char* wanted, bool exact, Reservation& out) {
    PoolResult<Reservation> result = pool->reserve(&log, digits(wanted), exact, "eth0");
    if (result.ok()) out = result.value;
    return result;
  }
  FileSettingsStore store;
  StringLog log;
  std::unique_ptr<LedgerAddressPool> pool;
};

TEST(AddressLedger, ReadsCompleteLinesOnly) {
  struct Case {
    const char* line;
    bool parsed;
    const char* adapter;
  };
  const Case cases[] = {
      {"T1 0011223344aa reserved op@pc eth0", true, "eth0"},
      {"T1 001122334455 pass op@pc Intel(R) Ethernet #2", true, "Intel(R) Ethernet #2"},
      {"T1 001122334455 reserved op@pc eth0\r", true, "eth0"},
      {"# time, address, event", false, ""},
      {"", false, ""},
      {"T1 0011223344 reserved op@pc eth0", false, ""},  // torn inside the address
      {"T1 001122334455 reserved op@pc", false, ""},     // torn before the adapter
      {"T1 001122334455 pa", false, ""},
      {"T1 00112233445G reserved op@pc eth0", false, ""},
  };
  for (const Case& c : cases) {
    std::optional<LedgerEntry> entry = parse_ledger_line(c.line);
    ASSERT_EQ(entry.has_value(), c.parsed) << c.line;
    if (entry) {
      EXPECT_EQ(entry->adapter, c.adapter);
    }
  }
  LedgerEntry entry{"T1", digits("0011223344aa"), "reserved", "J Doe@pc", "eth\n0"};
  EXPECT_EQ(format_ledger_line(entry), "T1 0011223344AA reserved J_Doe@pc eth?0\n");
  EXPECT_EQ(MacDigits::text(parse_ledger_line("T1 0011223344aa pass a@b c")->address), "0011223344AA");

  // A crash mid-line leaves a torn last line: it holds nothing, and the next line ends it first.
  test::TempDir dir;
  auto file = dir.write("ledger.txt", "T0 001122334455 reserved a@pc eth0\nT0 0011223344");
  AddressLedger ledger(file, "b@pc", [] { return std::string("T1"); });
  ASSERT_EQ(ledger.lock_and_read(), "");
  EXPECT_NE(ledger.last(digits("001122334455")), nullptr);
  EXPECT_EQ(ledger.size(), 1u);
  ASSERT_EQ(ledger.append(digits("001122334456"), kLedgerReserved, "eth1"), "");
  ledger.unlock();
  EXPECT_EQ(test::read_file(file),
            "T0 001122334455 reserved a@pc eth0\nT0 0011223344\nT1 001122334456 reserved b@pc eth1\n");
#ifndef _WIN32
  // Another account of the station's group appends to the ledger and takes its lock too.
  for (const std::filesystem::path& shared : {file, std::filesystem::path(file.string() + ".lock")})
    EXPECT_NE(std::filesystem::status(shared).permissions() & std::filesystem::perms::group_write,
              std::filesystem::perms::none)
        << shared;
#endif
}

TEST(LedgerAddressPool, MovesPastAddressesSentBeforeAndRecordsEachReservationAndOutcome) {
  test::TempDir dir;
  auto ledger = dir.write("ledger.txt", "T0 001122334455 reserved other@pc eth0\n"
                                        "T0 001122334456 fail other@pc eth0\n"
                                        "T0 001122334458 reserved other@pc eth2\n");
  Station station(dir / "mine.reg", ledger, "me@pc");
  Reservation got;
  ASSERT_TRUE(station.reserve("001122334455", false, got).ok());
  EXPECT_EQ(MacDigits::text(got.address), "001122334457");
  EXPECT_EQ(MacDigits::text(*station.pool->known_next()), "001122334458");
  ASSERT_TRUE(station.pool->finish(got, BoardOutcome{"pass", {}}).ok());
  Reservation then;
  ASSERT_TRUE(station.reserve("001122334455", false, then).ok());
  EXPECT_EQ(MacDigits::text(then.address), "001122334459");
  EXPECT_EQ(station.log.text(),
            "MAC Addr : 001122334455 to 001122334456 skipped: 2 addresses sent to boards on this PC "
            "before (the last T0 by other@pc on eth0)\r\n"
            "MAC Addr : 001122334458 skipped: it was sent to a board on this PC before (T0 by "
            "other@pc on eth2)\r\n");

  const std::string text = test::read_file(ledger);
  EXPECT_NE(text.find("T1 001122334457 reserved me@pc eth0\nT1 001122334457 pass me@pc eth0\n"
                      "T1 001122334459 reserved me@pc eth0\n"),
            std::string::npos)
      << text;
}

TEST(LedgerAddressPool, AnEnteredAddressThatPassedIsRefusedAndOneThatFailedIsRetested) {
  test::TempDir dir;
  auto ledger = dir.write("ledger.txt", "T0 0011223344AA reserved other@pc eth3\n"
                                        "T0 0011223344AA pass other@pc eth3\n"
                                        "T0 0011223344BB reserved other@pc eth3\n"
                                        "T0 0011223344BB timeout other@pc eth3\n");
  Station station(dir / "mine.reg", ledger, "me@pc");
  Reservation got;
  PoolResult refused = station.reserve("0011223344aa", true, got);
  EXPECT_EQ(refused.code, PoolCode::kRefused);
  EXPECT_NE(refused.message.find("0011223344AA was programmed into a board that passed, T0 by "
                                 "other@pc on eth3"),
            std::string::npos)
      << refused.message;

  ASSERT_TRUE(station.reserve("0011223344BB", true, got).ok());
  EXPECT_EQ(MacDigits::text(got.address), "0011223344BB");
  EXPECT_NE(station.log.text().find("re-test"), std::string::npos);
  ASSERT_TRUE(station.pool->finish(got, BoardOutcome{"pass", {}}).ok());
  EXPECT_EQ(station.reserve("0011223344BB", true, got).code, PoolCode::kRefused)
      << "once its board passed, the address is held";
}

TEST(LedgerAddressPool, ALedgerThatCannotBeReadOrWrittenMakesThePoolUnavailable) {
  test::TempDir dir;
  std::filesystem::create_directories(dir / "folder.txt");
  const std::filesystem::path places[] = {dir / "missing" / "ledger.txt", dir / "folder.txt"};
  for (const std::filesystem::path& place : places) {
    Station station(dir / "mine.reg", place, "me@pc");
    Reservation got;
    PoolResult reserved = station.reserve("001122334455", false, got);
    EXPECT_EQ(reserved.code, PoolCode::kUnavailable) << place;
    EXPECT_NE(reserved.message.find("the address ledger"), std::string::npos) << reserved.message;
    EXPECT_EQ(station.pool->check(&station.log).code, PoolCode::kUnavailable) << place;
  }
  Station sound(dir / "mine.reg", dir / "ledger.txt", "me@pc");
  EXPECT_TRUE(sound.pool->check(&sound.log).ok());
}

TEST(LedgerAddressPool, TwoAccountsWithTheirOwnSettingsNeverGiveOneAddressTwice) {
  test::TempDir dir;
  constexpr int kEach = 40;
  Station first(dir / "first.reg", dir / "ledger.txt", "first@pc");
  Station second(dir / "second.reg", dir / "ledger.txt", "second@pc");
  std::vector<std::string> given[2];
  auto shift = [](Station& station, std::vector<std::string>& out) {
    for (int i = 0; i < kEach; ++i) {
      Reservation got;
      if (station.reserve("001122334455", false, got).ok()) out.push_back(MacDigits::text(got.address));
    }
  };
  std::thread other([&] { shift(second, given[1]); });
  shift(first, given[0]);
  other.join();
  std::set<std::string> all(given[0].begin(), given[0].end());
  all.insert(given[1].begin(), given[1].end());
  EXPECT_EQ(given[0].size() + given[1].size(), 2u * kEach);
  EXPECT_EQ(all.size(), 2u * kEach) << "an address was given twice";
}

}  // namespace
}  // namespace skav::settings

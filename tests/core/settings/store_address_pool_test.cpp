// The file pool's promise: an address is given once, and only once it is durable; a store
// that cannot be written, holds an unusable next address, or has used up its addresses gives
// none, and says why.

#include "core/settings/store_address_pool.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/settings/file_settings_store.h"
#include "support/rig.h"

namespace skav::settings {
namespace {

namespace fs = std::filesystem;

using test::digits_of;

class StorePool : public ::testing::Test {
 protected:
  std::string stored() {
    MacDigits::Digits d{};
    std::string found;
    int result = store_.machwid_read(nullptr, d, &found);
    if (result == kOk) return MacDigits::text(d);
    return result == kBadValue ? "bad:" + found : "(none)";
  }
  PoolResult<Reservation> reserve(Reservation& out, const char* wanted = "001122334455", bool exact = false) {
    PoolResult<Reservation> result = pool_.reserve(&log_, digits_of(wanted), exact, "eth1");
    if (result.ok()) out = result.value;
    return result;
  }

  test::TempDir dir_;
  test::FullDiskStore store_{dir_ / "settings.reg"};
  StoreAddressPool pool_{store_};
  StringLog log_;
};

TEST_F(StorePool, AStoreThatCannotBeWrittenGivesNoAddressAndTheSameOneOnceItCanBe) {
  ASSERT_EQ(store_.machwid_write(nullptr, digits_of("02000A000007")), kOk);
  store_.full = true;
  const std::string why = "the next MAC address could not be stored in " +
                          (dir_ / "settings.reg").string() + ": " + std::strerror(ENOSPC);
  for (int attempt = 0; attempt < 3; ++attempt) {
    Reservation out{};
    PoolResult result = reserve(out);
    EXPECT_EQ(result.code, PoolCode::kUnavailable);
    EXPECT_EQ(result.message, why);
    EXPECT_EQ(MacDigits::text(out.address), std::string(12, '\0')) << "no address given";
  }
  PoolResult checked = pool_.check(&log_);
  EXPECT_EQ(checked.code, PoolCode::kUnavailable);
  EXPECT_EQ(checked.message, why);
  EXPECT_EQ(stored(), "02000A000007");

  store_.full = false;
  EXPECT_TRUE(pool_.check(&log_).ok());
  Reservation first{}, second{};
  ASSERT_TRUE(reserve(first).ok());
  ASSERT_TRUE(reserve(second).ok());
  EXPECT_EQ(MacDigits::text(first.address), "02000A000007");
  EXPECT_EQ(MacDigits::text(second.address), "02000A000008");
  EXPECT_EQ(stored(), "02000A000009");
}

// Only an absent value starts at the station's digits; anything else stored that is not 12
// hexadecimal digits stops the pool, shows what was found, and is left for the operator.
TEST_F(StorePool, AStoredNextAddressThatIsNotTwelveHexDigitsIsRefusedAndShown) {
  struct Case {
    const char* stored;  // a quoted registry string
    const char* shown;
  };
  const Case cases[] = {
      {"\"0011223344\"", "\"0011223344\""},
      {"\"00112233445Z\"", "\"00112233445Z\""},
      {"\"0011223344556\"", "\"0011223344556\""},
      {"\"\"", "\"\""},
      {"hex(2):41,00,0a,00,22,00", "\"A\\x0A\\x22\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    dir_.write("settings.reg", std::string("Windows Registry Editor Version 5.00\r\n\r\n"
                                           "[HKEY_CURRENT_USER\\Software\\SKAV]\r\n\"MACHWID\"=") +
                                   c.stored + "\r\n");
    const std::string why = "the next MAC address in " + (dir_ / "settings.reg").string() + ", " +
                            c.shown +
                            ", is not 12 hexadecimal digits: set the next address in the "
                            "Interface dialog or with --mac";
    Reservation out{};
    PoolResult result = reserve(out);
    EXPECT_EQ(result.code, PoolCode::kRefused);
    EXPECT_EQ(result.message, why);
    EXPECT_EQ(pool_.check(&log_).message, why);
    PoolResult<MacDigits::Digits> next = pool_.read_next(&log_);
    EXPECT_EQ(next.code, PoolCode::kRefused);
    EXPECT_EQ(next.message, why);
    EXPECT_EQ(stored().rfind("bad:", 0), 0u) << "left as it was";
    // The operator's entry does not need the stored next address.
    EXPECT_TRUE(reserve(out, "02000A000001", true).ok());
  }

  std::filesystem::remove(dir_ / "settings.reg");
  Reservation out{};
  ASSERT_TRUE(reserve(out).ok());
  EXPECT_EQ(MacDigits::text(out.address), "001122334455") << "absent: the default";
  ASSERT_EQ(store_.machwid_write(nullptr, digits_of("0a0b0c0d0e0f")), kOk);
  ASSERT_TRUE(reserve(out).ok());
  EXPECT_EQ(MacDigits::text(out.address), "0a0b0c0d0e0f") << "either case";
}

// The address before a carry into the group bit is the last: the store is then used up and
// says so, rather than handing out a multicast address or wrapping to 000000000000.
TEST_F(StorePool, TheLastIndividualAddressIsGivenAndTheGroupAddressAfterItIsNot) {
  ASSERT_EQ(store_.machwid_write(nullptr, digits_of("00FFFFFFFFFE")), kOk);
  Reservation out{};
  ASSERT_TRUE(reserve(out).ok());
  ASSERT_TRUE(reserve(out).ok());
  EXPECT_EQ(MacDigits::text(out.address), "00FFFFFFFFFF");
  EXPECT_EQ(stored(), "010000000000");
  const std::string why = "the MAC addresses of " + (dir_ / "settings.reg").string() +
                          " are used up: the next, 01:00:00:00:00:00, is a group address: set the "
                          "next address in the Interface dialog or with --mac";
  for (PoolResult<> result : {reserve(out).as<std::monostate>(), pool_.check(&log_)}) {
    EXPECT_EQ(result.code, PoolCode::kRefused);
    EXPECT_EQ(result.message, why);
  }
  EXPECT_EQ(stored(), "010000000000");

  PoolResult entered = reserve(out, "FFFFFFFFFFFF", true);
  EXPECT_EQ(entered.code, PoolCode::kRefused);
  EXPECT_EQ(entered.message, "FF:FF:FF:FF:FF:FF is a group (multicast) address, not a board's own");
}

// --- Two names of one store (the hold through a link: SharedStore.ALinkToAHeldStoreIsRefused) ---

#ifndef _WIN32
// (Symbolic links need a privilege on Windows; there the hold is keyed by the final path.)
TEST(StoreNames, AWriteThroughASymbolicLinkChangesItsTargetAndTheLinkStays) {
  test::TempDir dir;
  FileSettingsStore target(dir / "real.reg");
  ASSERT_EQ(target.machwid_write(nullptr, digits_of("02000A000000")), kOk);
  fs::create_directory(dir / "other");
  fs::create_symlink("../real.reg", dir / "other" / "link.reg");
  FileSettingsStore linked(dir / "other" / "link.reg");
  StoreAddressPool pool(linked);
  ASSERT_TRUE(pool.reserve(nullptr, MacDigits::kDefault, false, "eth1").ok());
  EXPECT_TRUE(fs::is_symlink(dir / "other" / "link.reg")) << "replaced by a file of its own";
  MacDigits::Digits next{};
  ASSERT_EQ(target.machwid_read(nullptr, next), kOk);
  EXPECT_EQ(MacDigits::text(next), "02000A000001");
}
#endif

TEST(StoreNames, AStoreWithASecondHardLinkIsRefusedAndNeverWritten) {
  test::TempDir dir;
  FileSettingsStore store(dir / "real.reg");
  ASSERT_EQ(store.machwid_write(nullptr, digits_of("02000A000000")), kOk);
  fs::create_hard_link(dir / "real.reg", dir / "hard.reg");
  const std::string before = test::read_file(dir / "real.reg");

  StringLog log;
  StoreAddressPool pool(store);
  PoolResult result = pool.reserve(&log, MacDigits::kDefault, false, "eth1");
  EXPECT_EQ(result.code, PoolCode::kUnavailable);
  EXPECT_EQ(test::read_file(dir / "real.reg"), before);
}

}  // namespace
}  // namespace skav::settings

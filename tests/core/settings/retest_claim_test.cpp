// A board that did not pass is re-tested with its own address: the claim, as each file pool
// answers it.

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "core/settings/file_settings_store.h"
#include "core/settings/ledger_address_pool.h"
#include "core/settings/store_address_pool.h"
#include "support/temp_dir.h"
#include "support/digits.h"

namespace skav::settings {
namespace {

using test::digits;

// A file pool as a station has it: the store alone, or the store behind the PC's ledger.
struct PoolUnderTest {
  explicit PoolUnderTest(bool with_ledger) : store(dir.path() / "settings.reg") {
    EXPECT_EQ(store.machwid_write(nullptr, digits("0200000A0005")), kOk);
    auto inner = std::make_unique<StoreAddressPool>(store);
    if (!with_ledger) {
      pool = std::move(inner);
      return;
    }
    pool = std::make_unique<LedgerAddressPool>(
        std::move(inner), std::make_unique<AddressLedger>(dir.path() / "ledger.txt", "op@pc",
                                                          [] { return std::string("T1"); }));
  }
  std::string stored() {
    MacDigits::Digits next{};
    return store.machwid_read(nullptr, next) == kOk ? MacDigits::text(next) : "?";
  }
  test::TempDir dir;
  FileSettingsStore store;
  std::unique_ptr<AddressPool> pool;
  StringLog log;
};

struct Kind {
  const char* name;
  bool with_ledger;
};
const Kind kKinds[] = {{"store", false}, {"store and ledger", true}};

const MacDigits::Digits kBoard = digits("0200000A0001");
const MacDigits::Digits kNext = digits("0200000A0005");

TEST(RetestClaim, OnceThenRefusedWhileOpenThenAgainAfterItsRunAndTheNextAddressStays) {
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    PoolUnderTest under(kind.with_ledger);
    const BoardHistory failed_once{1, false};
    PoolResult<Reservation> first = under.pool->claim_retest(&under.log, kBoard, failed_once, kNext, "eth0");
    ASSERT_TRUE(first.ok()) << first.message;
    EXPECT_EQ(first.value.address, kBoard);
    EXPECT_EQ(first.value.next, kNext) << "the shown next address stays";
    EXPECT_EQ(first.value.attempt, 2);

    PoolResult<Reservation> second = under.pool->claim_retest(&under.log, kBoard, failed_once, kNext, "eth1");
    EXPECT_EQ(second.code, PoolCode::kRefused) << "one open re-test per address";
    EXPECT_NE(second.message.find("0200000A0001"), std::string::npos) << second.message;

    ASSERT_TRUE(under.pool->finish(first.value, BoardOutcome{"fail", {}}).ok());
    PoolResult<Reservation> third =
        under.pool->claim_retest(&under.log, kBoard, BoardHistory{2, false}, kNext, "eth0");
    ASSERT_TRUE(third.ok()) << third.message;
    EXPECT_EQ(third.value.attempt, 3);
    EXPECT_EQ(under.stored(), "0200000A0005") << "a re-test never moves MACHWID";

    // The next new board still gets the next address.
    PoolResult<Reservation> fresh = under.pool->reserve(&under.log, kNext, false, "eth0");
    ASSERT_TRUE(fresh.ok()) << fresh.message;
    EXPECT_EQ(fresh.value.address, kNext);
    EXPECT_EQ(fresh.value.attempt, 1);
  }
}

TEST(RetestClaim, APassOrAnAddressNeverSentIsNoReTest) {
  struct Case {
    const char* name;
    BoardHistory history;
    PoolCode code;
  };
  const Case cases[] = {
      {"the records say the last run passed", {3, true}, PoolCode::kRefused},
      {"no run sent the address", {0, false}, PoolCode::kUnset},
  };
  for (const Kind& kind : kKinds) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(kind.name) + ": " + c.name);
      PoolUnderTest under(kind.with_ledger);
      PoolResult<Reservation> claimed = under.pool->claim_retest(&under.log, kBoard, c.history, kNext, "eth0");
      EXPECT_EQ(claimed.code, c.code) << claimed.message;
      EXPECT_EQ(under.stored(), "0200000A0005");
    }
  }
}

TEST(RetestClaim, TheLedgerKnowsBoardsOfOtherAccountsAndTheirPasses) {
  test::TempDir shared;
  // Two accounts' stations on one PC: their own stores, one ledger.
  PoolUnderTest first(true), second(true);
  auto ledger_pool = [&shared](PoolUnderTest& under) {
    under.pool = std::make_unique<LedgerAddressPool>(
        std::make_unique<StoreAddressPool>(under.store),
        std::make_unique<AddressLedger>(shared.path() / "ledger.txt", "op@pc", [] { return std::string("T1"); }));
  };
  ledger_pool(first);
  ledger_pool(second);
  PoolResult<Reservation> taken = first.pool->reserve(&first.log, kNext, false, "eth0");
  ASSERT_TRUE(taken.ok()) << taken.message;
  ASSERT_TRUE(first.pool->finish(taken.value, BoardOutcome{"fail", {}}).ok());

  // The second account's records know nothing of the board; the ledger does.
  PoolResult<Reservation> claimed = second.pool->claim_retest(&second.log, taken.value.address, {}, kNext, "eth1");
  ASSERT_TRUE(claimed.ok()) << claimed.message;
  EXPECT_EQ(claimed.value.attempt, 2);
  ASSERT_TRUE(second.pool->finish(claimed.value, BoardOutcome{"pass", {}}).ok());

  // Passed now: the first account's records still say it failed, the ledger refuses.
  PoolResult<Reservation> again =
      first.pool->claim_retest(&first.log, taken.value.address, BoardHistory{1, false}, kNext, "eth0");
  EXPECT_EQ(again.code, PoolCode::kRefused);
  EXPECT_NE(again.message.find("passed"), std::string::npos) << again.message;
}

}  // namespace
}  // namespace skav::settings

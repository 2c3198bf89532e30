// Re-tests on the line's database: a board that did not pass claims its own address again, one
// claim at a time on the whole line, without moving the range's next address.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "backends/postgres/pg_pool.h"
#include "core/log.h"
#include "core/station/records.h"
#include "postgres/pg_support.h"
#include "support/run_program.h"
#include "support/start_gate.h"
#include "support/digits.h"

namespace skav {
namespace {

using postgres::PgAddressPool;
using settings::BoardHistory;
using settings::PoolCode;
using settings::PoolResult;
using settings::Reservation;
using test::PgServer;

using test::digits;

// The outcome of a run that wrote `reservation`'s address, as the station sends it.
settings::BoardOutcome run_outcome(const Reservation& reservation, station::Verdict overall) {
  station::BoardRecord record;
  record.time = "2026-12-10T08:00:00+00:00";
  record.adapter = "eth0";
  record.board_mac = MacDigits::colon_text(reservation.address);
  record.written_mac = MacDigits::colon_text(reservation.address);
  record.overall = overall;
  record.attempt = reservation.attempt;
  return {station::verdict_name(overall), station::record_columns(record)};
}

class PgRetest : public ::testing::Test {
 protected:
  void SetUp() override {
    url_ = PgServer::missing().empty() ? PgServer::new_database() : "";
    if (url_.empty()) return;
    Status made = postgres::init_range(url_, digits("020000000000"), digits("0200000000FF"));
    ASSERT_TRUE(made.ok()) << made.message();
  }
  // Reserves the range's next address and finishes it with `overall`.
  Reservation first_run(PgAddressPool& pool, station::Verdict overall) {
    PoolResult<Reservation> taken = pool.reserve(&log_, MacDigits::kDefault, false, "eth0");
    EXPECT_TRUE(taken.ok()) << taken.message;
    EXPECT_TRUE(pool.finish(taken.value, run_outcome(taken.value, overall)).ok());
    return taken.value;
  }
  std::string url_;
  StringLog log_;
};

TEST_F(PgRetest, ClaimedOnceAtATimeUntilAPassWithTheNextAttemptAndTheRangeStays) {
  SKAV_REQUIRE_POSTGRES();
  PgAddressPool pool(url_, "station-a");
  const Reservation first = first_run(pool, station::Verdict::kFail);
  const MacDigits::Digits next = digits("020000000001");
  ASSERT_EQ(MacDigits::text(pool.read_next(&log_).value), "020000000001");

  PoolResult<Reservation> claimed = pool.claim_retest(&log_, first.address, {}, next, "eth1");
  ASSERT_TRUE(claimed.ok()) << claimed.message;
  EXPECT_EQ(claimed.value.address, first.address);
  EXPECT_EQ(claimed.value.attempt, 2);
  EXPECT_EQ(claimed.value.next, next);

  // Another station of the line, and this one again, while the re-test is open.
  PgAddressPool other(url_, "station-b");
  PoolResult<Reservation> second = other.claim_retest(&log_, first.address, {}, next, "eth0");
  EXPECT_EQ(second.code, PoolCode::kRefused);
  EXPECT_NE(second.message.find("station-a eth1"), std::string::npos) << second.message;
  EXPECT_EQ(pool.claim_retest(&log_, first.address, {}, next, "eth2").code, PoolCode::kRefused);

  ASSERT_TRUE(pool.finish(claimed.value, run_outcome(claimed.value, station::Verdict::kTimeout)).ok());
  PoolResult<Reservation> third = other.claim_retest(&log_, first.address, {}, next, "eth0");
  ASSERT_TRUE(third.ok()) << third.message;
  EXPECT_EQ(third.value.attempt, 3);
  ASSERT_TRUE(other.finish(third.value, run_outcome(third.value, station::Verdict::kPass)).ok());
  EXPECT_EQ(pool.claim_retest(&log_, first.address, {}, next, "eth0").code, PoolCode::kRefused)
      << "a pass is recorded";

  EXPECT_EQ(MacDigits::text(pool.read_next(&log_).value), "020000000001") << "the range did not move";
  EXPECT_EQ(PgServer::query(url_, "SELECT string_agg(attempt || ':' || outcome || ':' || verdict, ',' "
                                  "ORDER BY attempt) FROM skav_retests"),
            "2:timeout:timeout,3:pass:pass");
  postgres::RecordsReport report;
  ASSERT_TRUE(postgres::read_records(url_, "", report).ok());
  ASSERT_EQ(report.rows.size(), 3u) << "the first run and both re-tests";
  std::vector<int> attempts;
  for (const postgres::LineRecord& row : report.rows) attempts.push_back(row.record.attempt);
  std::sort(attempts.begin(), attempts.end());
  EXPECT_EQ(attempts, (std::vector<int>{1, 2, 3}));

  // A board that passed at its first run, one whose address the range never gave, and one
  // whose first run is still going are no re-tests.
  const Reservation passed = first_run(pool, station::Verdict::kPass);
  PoolResult<Reservation> refused = pool.claim_retest(&log_, passed.address, BoardHistory{1, false}, next, "eth0");
  EXPECT_EQ(refused.code, PoolCode::kRefused);
  EXPECT_NE(refused.message.find("passed"), std::string::npos) << refused.message;
  EXPECT_EQ(pool.claim_retest(&log_, digits("0200000000F0"), BoardHistory{1, false}, next, "eth0").code,
            PoolCode::kUnset);
  // An address whose first run is still going is not another board's re-test.
  PoolResult<Reservation> running = pool.reserve(&log_, MacDigits::kDefault, false, "eth1");
  ASSERT_TRUE(running.ok()) << running.message;
  EXPECT_EQ(pool.claim_retest(&log_, running.value.address, {}, next, "eth0").code, PoolCode::kRefused);
}

TEST_F(PgRetest, ClaimersRacingForOneAddressGetItOnce) {
  SKAV_REQUIRE_POSTGRES();
  Reservation failed;
  {
    PgAddressPool pool(url_, "station-0");
    failed = first_run(pool, station::Verdict::kFail);
  }
  constexpr int kStations = 6;
  std::atomic<int> granted{0}, refused{0};
  test::StartGate gate(kStations);
  std::vector<std::thread> threads;
  for (int s = 0; s < kStations; ++s) {
    threads.emplace_back([&, s] {
      // Each its own pool and connection, as separate stations have.
      PgAddressPool pool(url_, "station-" + std::to_string(s));
      StringLog log;
      gate.arrive_and_wait();
      PoolResult<Reservation> claimed = pool.claim_retest(&log, failed.address, {}, failed.next, "eth0");
      (claimed.ok() ? granted : refused) += 1;
      if (claimed.code != PoolCode::kRefused && !claimed.ok()) ADD_FAILURE() << claimed.message;
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(granted.load(), 1);
  EXPECT_EQ(refused.load(), kStations - 1);
  EXPECT_EQ(PgServer::query(url_, "SELECT count(*) FROM skav_retests WHERE outcome IS NULL"), "1");
}

TEST_F(PgRetest, AClaimLeftOpenPastTheBoundEndsAsNotRun) {
  SKAV_REQUIRE_POSTGRES();
  Reservation first, second;
  {
    // A station without an identity: nothing reconciles its claims when it comes back.
    PgAddressPool gone(url_, "station-gone");
    first = first_run(gone, station::Verdict::kFail);
    second = first_run(gone, station::Verdict::kFail);
    for (const Reservation& r : {first, second})
      ASSERT_TRUE(gone.claim_retest(&log_, r.address, {}, r.next, "eth0").ok());
  }
  const std::string bound = std::to_string(postgres::kStaleRetestClaim.count());
  auto age_claim = [&](const Reservation& r, const std::string& seconds) {
    ASSERT_EQ(PgServer::query(url_, "UPDATE skav_retests SET claimed_at = now() - make_interval(secs => " +
                                        seconds + ") WHERE address = " +
                                        std::to_string(postgres::address_value(r.address))),
              "");
  };
  // Just inside the bound the claim still holds the address.
  age_claim(first, bound + " - 60");
  PgAddressPool other(url_, "station-b");
  PoolResult<Reservation> refused = other.claim_retest(&log_, first.address, {}, first.next, "eth1");
  EXPECT_EQ(refused.code, PoolCode::kRefused) << refused.message;

  age_claim(first, bound + " + 60");
  PoolResult<Reservation> claimed = other.claim_retest(&log_, first.address, {}, first.next, "eth1");
  ASSERT_TRUE(claimed.ok()) << claimed.message;
  EXPECT_EQ(claimed.value.attempt, 3);
  EXPECT_EQ(PgServer::query(url_, "SELECT outcome FROM skav_retests WHERE attempt = 2 AND address = " +
                                      std::to_string(postgres::address_value(first.address))),
            "not-run");

  // A station's first connection closes every stale claim of the line, not only the one it wants.
  age_claim(second, bound + " + 60");
  PgAddressPool starting(url_, "station-c");
  ASSERT_TRUE(starting.check_ready().ok());
  EXPECT_EQ(PgServer::query(url_, "SELECT outcome FROM skav_retests WHERE address = " +
                                      std::to_string(postgres::address_value(second.address))),
            "not-run");
  EXPECT_EQ(PgServer::query(url_, "SELECT count(*) FROM skav_retests WHERE outcome IS NULL"), "1")
      << "the fresh claim stays open";
  // The line's status counts the re-tests apart from the addresses they reuse.
  test::ProgramResult shown =
      test::run_program({SKAV_BINARY, "pool", "status", "--pool", url_}, std::chrono::seconds(60));
  EXPECT_EQ(shown.exit_code, 0) << shown.err;
  EXPECT_NE(shown.out.find("used      2 (2 boards finished)\nfree      254\nre-tests  3 (2 finished, 1 open)\n"),
            std::string::npos)
      << shown.out;
}

}  // namespace
}  // namespace skav

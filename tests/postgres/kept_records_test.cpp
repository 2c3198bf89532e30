// Records for the line's database survive a database away and a killed station: kept in the
// station's spool, sent at the next start, matched with the records file, never stored twice.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/station/records.h"
#include "backends/postgres/pg_pool.h"
#include "postgres/pg_support.h"
#include "support/temp_dir.h"

namespace skav {
namespace {

using test::PgServer;

constexpr const char* kStation = "0123456789abcdef0123456789abcdef";

station::BoardRecord record_for(const settings::Reservation& r, station::Verdict verdict = station::Verdict::kPass) {
  station::BoardRecord record;
  record.time = "2026-01-02T03:04:05+00:00";
  record.adapter = "eth1";
  record.written_mac = MacDigits::colon_text(r.address);
  record.step(station::StepSlot::kEnvironment) = record.overall = verdict;
  record.attempt = r.attempt;
  return record;
}

class KeptRecords : public ::testing::Test {
 protected:
  void SetUp() override {
    SKAV_REQUIRE_POSTGRES();
    url_ = PgServer::new_database();
    MacDigits::Digits first{}, last{};
    MacDigits::parse("0200000A0000", first);
    MacDigits::parse("0200000A00FF", last);
    ASSERT_TRUE(postgres::init_range(url_, first, last).ok());
  }
  // A start of the station: its pool, ready.
  std::unique_ptr<postgres::PgAddressPool> start() {
    auto pool = std::make_unique<postgres::PgAddressPool>(url_, "clone", kStation, dir_.path());
    EXPECT_TRUE(pool->check_ready().ok());
    return pool;
  }
  settings::Reservation reserve(postgres::PgAddressPool& pool) {
    settings::PoolResult<settings::Reservation> r = pool.reserve(&log_, MacDigits::kDefault, false, "eth1");
    EXPECT_TRUE(r.ok());
    return r.value;
  }
  settings::PoolResult<> finish(postgres::PgAddressPool& pool, const settings::Reservation& r) {
    return pool.finish(r, {"pass", station::record_columns(record_for(r))});
  }
  std::string sql(const std::string& text) { return PgServer::query(url_, text); }
  std::filesystem::path spool() const { return dir_ / (std::string("skav-spool-") + kStation + ".csv"); }

  std::string url_;
  test::TempDir dir_;
  StringLog log_;
};
// The tests that take the server away or freeze it: ctest runs each on a server of its own.
class KeptRecordsOutage : public KeptRecords {};

TEST_F(KeptRecordsOutage, ARecordTheDatabaseDidNotTakeIsSpooledAndSentAtTheNextStart) {
  {
    auto station = start();
    settings::Reservation r = reserve(*station);
    ASSERT_TRUE(PgServer::stop());
    EXPECT_EQ(finish(*station, r).code, settings::PoolCode::kKept);
    EXPECT_TRUE(std::filesystem::exists(spool()));
    EXPECT_EQ(station->flush_outcomes().value, 1u);
  }  // the station ends with the record unsent
  ASSERT_TRUE(PgServer::start());
  EXPECT_EQ(sql("SELECT count(*) FROM skav_records"), "0");
  EXPECT_EQ(start()->pending_records(), 0u);
  EXPECT_EQ(sql("SELECT outcome FROM skav_addresses"), "pass");
  EXPECT_EQ(sql("SELECT station_id FROM skav_records"), kStation);
  EXPECT_FALSE(std::filesystem::exists(spool()));
}

TEST_F(KeptRecordsOutage, ARecordSentAgainIsStoredOnce) {
  auto station = start();
  settings::Reservation r = reserve(*station);
  ASSERT_TRUE(PgServer::stop());
  finish(*station, r);
  // A crash after the database took it, before the spool was removed: the spool comes back.
  std::filesystem::copy_file(spool(), dir_ / "spool.copy");
  ASSERT_TRUE(PgServer::start());
  settings::PoolResult<std::size_t> flushed = station->flush_outcomes();
  ASSERT_EQ(flushed.value, 0u) << flushed.message;
  std::string finished_at = sql("SELECT finished_at FROM skav_addresses");
  std::filesystem::copy_file(dir_ / "spool.copy", spool());

  EXPECT_EQ(start()->pending_records(), 0u);
  EXPECT_EQ(sql("SELECT count(*) FROM skav_records"), "1");
  EXPECT_EQ(sql("SELECT finished_at FROM skav_addresses"), finished_at);
}

TEST_F(KeptRecords, ARecordStaysSpooledUntilACommitThatWaitsForTheDiskCarriesIt) {
  auto station = start();
  settings::Reservation first = reserve(*station);
  ASSERT_TRUE(finish(*station, first).ok());
  EXPECT_EQ(sql("SELECT count(*) FROM skav_records"), "1");
  EXPECT_TRUE(std::filesystem::exists(spool())) << "taken without the server's disk";
  reserve(*station);
  EXPECT_FALSE(std::filesystem::exists(spool())) << "the claim's flush carried it";
  settings::Reservation last = reserve(*station);
  ASSERT_TRUE(finish(*station, last).ok());
  EXPECT_EQ(station->flush_outcomes().value, 0u);
  EXPECT_FALSE(std::filesystem::exists(spool())) << "flushed on demand";
}

TEST_F(KeptRecordsOutage, ARecordAServerCrashTookBeforeItsDiskIsSentAgain) {
  auto station = start();
  settings::Reservation r = reserve(*station);
  ASSERT_TRUE(finish(*station, r).ok());
  // What a crash of the server loses of a commit that did not wait for its disk.
  ASSERT_EQ(sql("DELETE FROM skav_records; UPDATE skav_addresses SET outcome = NULL, finished_at = NULL"), "");
  ASSERT_TRUE(PgServer::stop());
  ASSERT_TRUE(PgServer::start());
  // The first call may learn that the old connection is gone; the next one is on a new one.
  settings::PoolResult<settings::Reservation> next = station->reserve(&log_, MacDigits::kDefault, false, "eth1");
  if (!next.ok()) next = station->reserve(&log_, MacDigits::kDefault, false, "eth1");
  ASSERT_TRUE(next.ok()) << next.message;
  EXPECT_EQ(sql("SELECT count(*) FROM skav_records"), "1");
  EXPECT_EQ(sql("SELECT outcome FROM skav_addresses WHERE address = " +
                std::to_string(postgres::address_value(r.address))),
            "pass");
  EXPECT_FALSE(std::filesystem::exists(spool()));
}

TEST_F(KeptRecords, AStationKilledBeforeTheCommitIsReconciledFromItsRecordsFile) {
  settings::Reservation recorded;
  {
    auto station = start();
    recorded = reserve(*station);
    reserve(*station);  // its board never finished
    // The local record was written; the station died before the database heard of it.
    ASSERT_TRUE(station::append_record(dir_ / station::kRecordsFile, record_for(recorded)).ok());
  }
  start();
  EXPECT_EQ(sql("SELECT address FROM skav_addresses WHERE outcome = 'pass'"),
            std::to_string(postgres::address_value(recorded.address)));
  EXPECT_EQ(sql("SELECT adapter FROM skav_records"), "eth1");
  // A board without a record stays without an outcome.
  EXPECT_EQ(sql("SELECT count(*) FROM skav_addresses WHERE outcome IS NULL"), "1");
}

TEST_F(KeptRecords, AKilledStationsOpenReTestsGetTheirRecordOrEndAsNotRunAtItsNextStart) {
  settings::Reservation recorded, cut_off;
  {
    auto station = start();
    for (settings::Reservation* r : {&recorded, &cut_off}) {
      *r = reserve(*station);
      ASSERT_TRUE(station->finish(*r, {"fail", station::record_columns(record_for(*r, station::Verdict::kFail))}).ok());
      settings::PoolResult<settings::Reservation> again = station->claim_retest(&log_, r->address, {}, r->next, "eth1");
      ASSERT_TRUE(again.ok()) << again.message;
      *r = again.value;
    }
    // The first re-test's record reached the records file; the station died before the
    // database heard of either.
    ASSERT_TRUE(station::append_record(dir_ / station::kRecordsFile,
                                       record_for(recorded, station::Verdict::kTimeout)).ok());
  }
  EXPECT_EQ(sql("SELECT count(*) FROM skav_retests WHERE outcome IS NULL"), "2");
  auto station = start();
  EXPECT_EQ(sql("SELECT string_agg(attempt || ':' || outcome || ':' || coalesce(verdict, '-'), ',' "
                "ORDER BY address) FROM skav_retests"),
            "2:timeout:timeout,2:not-run:-");
  // The board cut off tries again as a new attempt; the run without a record is not listed.
  settings::PoolResult<settings::Reservation> again = station->claim_retest(&log_, cut_off.address, {}, cut_off.next, "eth1");
  ASSERT_TRUE(again.ok()) << again.message;
  EXPECT_EQ(again.value.attempt, 3);
  postgres::RecordsReport report;
  ASSERT_TRUE(postgres::read_records(url_, "", report).ok());
  EXPECT_EQ(report.rows.size(), 3u) << "two first runs and the recorded re-test";
  EXPECT_EQ(report.unreadable, 0u);
  postgres::RangeStatus status;
  ASSERT_TRUE(postgres::read_status(url_, status).ok());
  EXPECT_EQ(status.used, 2);
  EXPECT_EQ(status.retests_finished, 2);
  EXPECT_EQ(status.retests_open, 1);
}

TEST_F(KeptRecords, ADatabaseMadeBeforeStationIdentitiesKeepsWorking) {
  // The tables as an earlier `skav pool init` made them, before identities and versions.
  ASSERT_EQ(sql("ALTER TABLE skav_addresses DROP COLUMN station_id; "
                "ALTER TABLE skav_records DROP COLUMN station_id; DROP TABLE skav_schema_version"), "");
  auto station = start();
  settings::Reservation r = reserve(*station);
  EXPECT_TRUE(finish(*station, r).ok());
  EXPECT_EQ(sql("SELECT station_id FROM skav_addresses"), kStation);
  postgres::RangeStatus status;
  ASSERT_TRUE(postgres::read_status(url_, status).ok());
  EXPECT_EQ(status.finished, 1);
}

}  // namespace
}  // namespace skav

// Records for the line's database survive a database away and a killed station: kept in the
// station's spool, sent at the next start, matched with the records file, never stored twice.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/station/records.h"
#include "postgres/pg_pool.h"
#include "postgres/pg_support.h"
#include "support/temp_dir.h"

namespace skav {
namespace {

using postgres::PgAddressPool;
using test::PgServer;

constexpr const char* kStation = "0123456789abcdef0123456789abcdef";

station::BoardRecord record_for(const settings::Reservation& r) {
  station::BoardRecord record;
  record.time = "2026-01-02T03:04:05+00:00";
  record.adapter = "eth1";
  record.board_mac = "02:00:00:00:00:01";
  record.written_mac = MacDigits::colon_text(r.address);
  record.step(station::StepSlot::kEnvironment) = station::Verdict::kPass;
  record.overall = station::Verdict::kPass;
  record.seconds = 1.5;
  return record;
}

settings::BoardOutcome outcome_for(const settings::Reservation& r) {
  return {"pass", station::record_columns(record_for(r))};
}

class KeptRecords : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PgServer::missing().empty()) GTEST_SKIP() << "needs a private PostgreSQL server: " << PgServer::missing();
    url_ = PgServer::new_database();
    ASSERT_FALSE(url_.empty());
  }
  void init() {
    MacDigits::Digits first{}, last{};
    MacDigits::parse("0200000A0000", first);
    MacDigits::parse("0200000A00FF", last);
    Status made = postgres::init_range(url_, first, last);
    ASSERT_TRUE(made.ok()) << made.message();
  }
  std::unique_ptr<PgAddressPool> pool() {
    auto made = std::make_unique<PgAddressPool>(url_, "clone", kStation, dir_.path());
    Status ready = made->check_ready();
    EXPECT_TRUE(ready.ok()) << ready.message();
    return made;
  }
  settings::Reservation reserve(PgAddressPool& pool) {
    settings::Reservation r;
    EXPECT_TRUE(pool.reserve(&log_, MacDigits::kDefault, false, "eth1", r).ok());
    return r;
  }
  std::string sql(const std::string& text) {
    auto rows = PgServer::query(url_, text);
    return rows.empty() || rows[0].empty() ? "" : rows[0][0];
  }
  std::filesystem::path spool() const { return dir_ / (std::string("skav-spool-") + kStation + ".csv"); }

  std::string url_;
  test::TempDir dir_;
  StringLog log_;
};

TEST_F(KeptRecords, ARecordTheDatabaseDidNotTakeIsSpooledAndSentAtTheNextStart) {
  init();
  {
    auto station = pool();
    settings::Reservation r = reserve(*station);
    ASSERT_TRUE(PgServer::stop());
    Status finished = station->finish(r, outcome_for(r));
    EXPECT_EQ(finished.code(), EAGAIN) << finished.message();
    EXPECT_TRUE(std::filesystem::exists(spool()));
    std::string why;
    EXPECT_EQ(station->flush_outcomes(why), 1u);
  }  // the station ends with the record unsent
  ASSERT_TRUE(PgServer::start());
  EXPECT_EQ(sql("SELECT count(*) FROM skav_records"), "0");

  auto next = pool();
  EXPECT_EQ(next->pending_records(), 0u);
  EXPECT_EQ(sql("SELECT count(*) FROM skav_addresses WHERE outcome = 'pass'"), "1");
  EXPECT_EQ(sql("SELECT station_id FROM skav_records"), kStation);
  EXPECT_FALSE(std::filesystem::exists(spool()));
}

TEST_F(KeptRecords, ARecordSentAgainIsStoredOnce) {
  init();
  auto station = pool();
  settings::Reservation r = reserve(*station);
  ASSERT_TRUE(PgServer::stop());
  station->finish(r, outcome_for(r));
  // A crash after the database took it, before the spool was removed: the spool comes back.
  std::filesystem::copy_file(spool(), dir_ / "spool.copy");
  ASSERT_TRUE(PgServer::start());
  std::string why;
  ASSERT_EQ(station->flush_outcomes(why), 0u) << why;
  std::string finished_at = sql("SELECT finished_at FROM skav_addresses");
  std::filesystem::copy_file(dir_ / "spool.copy", spool());

  auto next = pool();
  EXPECT_EQ(next->pending_records(), 0u);
  EXPECT_EQ(sql("SELECT count(*) FROM skav_records"), "1");
  EXPECT_EQ(sql("SELECT finished_at FROM skav_addresses"), finished_at);
  EXPECT_FALSE(std::filesystem::exists(spool()));
}

TEST_F(KeptRecords, AStationKilledBeforeTheCommitIsReconciledFromItsRecordsFile) {
  init();
  settings::Reservation recorded, unfinished;
  {
    auto station = pool();
    recorded = reserve(*station);
    unfinished = reserve(*station);
    // The local record was written; the station died before the database heard of it.
    ASSERT_TRUE(station::append_record(dir_ / station::kRecordsFile, record_for(recorded)).ok());
  }
  // Another station's open reservation with the same address text in this file is not ours.
  EXPECT_EQ(sql("SELECT count(*) FROM skav_addresses WHERE outcome IS NULL"), "2");

  auto next = pool();
  EXPECT_EQ(sql("SELECT address FROM skav_addresses WHERE outcome = 'pass'"),
            std::to_string(postgres::address_value(recorded.address)));
  EXPECT_EQ(sql("SELECT adapter FROM skav_records"), "eth1");
  // A board that never finished has no record: its address stays without an outcome.
  EXPECT_EQ(sql("SELECT count(*) FROM skav_addresses WHERE outcome IS NULL"), "1");
  postgres::RangeStatus status;
  ASSERT_TRUE(postgres::read_status(url_, status).ok());
  EXPECT_EQ(status.finished, 1);
}

TEST_F(KeptRecords, ADatabaseMadeBeforeStationIdentitiesKeepsWorking) {
  // The tables as an earlier `skav pool init` made them.
  std::string records = "CREATE TABLE skav_records (address bigint PRIMARY KEY REFERENCES skav_addresses, "
                        "host text NOT NULL, port text NOT NULL, ended_at timestamptz NOT NULL";
  std::string header = station::records_header();
  header.pop_back();
  for (std::size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
    end = header.find(',', start);
    records += ", " + header.substr(start, end - start) + " text";
  }
  records += ")";
  for (const std::string& statement :
       {std::string("CREATE TABLE skav_range (id int PRIMARY KEY CHECK (id = 1), first_address bigint NOT NULL, "
                    "last_address bigint NOT NULL, next_address bigint NOT NULL, "
                    "CHECK (first_address <= last_address))"),
        std::string("CREATE TABLE skav_addresses (address bigint PRIMARY KEY, host text NOT NULL, "
                    "port text NOT NULL, reserved_at timestamptz NOT NULL DEFAULT now(), outcome text, "
                    "finished_at timestamptz, claim text)"),
        records, std::string("INSERT INTO skav_range VALUES (1, 10, 20, 10)")}) {
    auto rows = PgServer::query(url_, statement);
    ASSERT_TRUE(rows.empty() || rows[0].empty() || rows[0][0].rfind("error", 0) != 0) << rows[0][0];
  }
  auto station = pool();
  settings::Reservation r = reserve(*station);
  EXPECT_TRUE(station->finish(r, outcome_for(r)).ok());
  EXPECT_EQ(sql("SELECT station_id FROM skav_addresses"), kStation);
  EXPECT_EQ(sql("SELECT count(*) FROM skav_records WHERE station_id IS NOT NULL"), "1");
  postgres::RangeStatus status;
  ASSERT_TRUE(postgres::read_status(url_, status).ok());
  EXPECT_EQ(status.finished, 1);
}

}  // namespace
}  // namespace skav

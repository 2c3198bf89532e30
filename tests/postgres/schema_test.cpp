// The line database's schema: versions, migrations under the lock, what a station refuses, and
// how the database's errors are classified.

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "backends/postgres/address_pool.h"
#include "backends/postgres/connection.h"
#include "backends/postgres/line_reports.h"
#include "backends/postgres/schema.h"
#include "core/log.h"
#include "core/station/records.h"
#include "postgres/pg_support.h"
#include "support/run_program.h"

namespace skav {
namespace {

using namespace std::chrono_literals;
using postgres::Fault;
using test::PgServer;

// The tables exactly as `skav pool init` made them before the schema had versions, kept here
// literally: the new code must recognise and migrate a database that old stations made.
constexpr const char* kOldInit =
    "CREATE TABLE skav_range (id int PRIMARY KEY CHECK (id = 1), first_address bigint NOT NULL, "
    "last_address bigint NOT NULL, next_address bigint NOT NULL, CHECK (first_address <= last_address)); "
    "CREATE TABLE skav_addresses (address bigint PRIMARY KEY, host text NOT NULL, port text NOT NULL, "
    "reserved_at timestamptz NOT NULL DEFAULT now(), outcome text, finished_at timestamptz, claim text, "
    "station_id text); "
    "CREATE TABLE skav_records (address bigint PRIMARY KEY REFERENCES skav_addresses, host text NOT NULL, "
    "port text NOT NULL, ended_at timestamptz NOT NULL, station_id text, time text, adapter text, "
    "board_mac text, written_mac text, environment text, kernel text, uboot text, filesystem text, "
    "diag text, verdict text, seconds text); "
    "CREATE INDEX skav_records_ended_at ON skav_records (ended_at); "
    "INSERT INTO skav_range VALUES (1, 2199023255552, 2199023255807, 2199023255552)";
// The same before stations had an identity.
constexpr const char* kOldestInit =
    "CREATE TABLE skav_range (id int PRIMARY KEY CHECK (id = 1), first_address bigint NOT NULL, "
    "last_address bigint NOT NULL, next_address bigint NOT NULL, CHECK (first_address <= last_address)); "
    "CREATE TABLE skav_addresses (address bigint PRIMARY KEY, host text NOT NULL, port text NOT NULL, "
    "reserved_at timestamptz NOT NULL DEFAULT now(), outcome text, finished_at timestamptz, claim text); "
    "CREATE TABLE skav_records (address bigint PRIMARY KEY REFERENCES skav_addresses, host text NOT NULL, "
    "port text NOT NULL, ended_at timestamptz NOT NULL, time text, adapter text, "
    "board_mac text, written_mac text, environment text, kernel text, uboot text, filesystem text, "
    "diag text, verdict text, seconds text); "
    "CREATE INDEX skav_records_ended_at ON skav_records (ended_at); "
    "INSERT INTO skav_range VALUES (1, 2199023255552, 2199023255807, 2199023255552)";
// What a station of the previous version sends for a board, its columns named as it knew them.
constexpr const char* kOldStationStatements =
    "INSERT INTO skav_addresses (address, host, port, claim, station_id) "
    "VALUES (2199023255752, 'old', 'eth9', 'c', 'old-id'); "
    "UPDATE skav_addresses SET outcome = 'pass', finished_at = now() WHERE address = 2199023255752; "
    "INSERT INTO skav_records (address, host, port, ended_at, station_id, time, adapter, board_mac, "
    "written_mac, environment, kernel, uboot, filesystem, diag, verdict, seconds) VALUES (2199023255752, "
    "'old', 'eth9', now(), 'old-id', '2026-01-01T00:00:00+00:00', 'eth9', '02:00:00:00:00:09', "
    "'02:00:00:00:00:C8', 'pass', 'skipped', 'skipped', 'skipped', 'skipped', 'pass', '1.000')";

std::string as_role(const std::string& url, const std::string& role) {
  std::string changed = url;
  changed.replace(changed.find("skav@"), 4, role);  // the user before the "@"
  return changed;
}

// A new log-in role of the private server, granted the station's rights on the pool's tables
// that exist when it is made.
std::string new_station_role(const std::string& url) {
  static int count = 0;
  std::string role = "station_" + std::to_string(getpid()) + "_" + std::to_string(++count);
  EXPECT_EQ(PgServer::query(url, "CREATE ROLE " + role + " LOGIN"), "");
  EXPECT_EQ(PgServer::query(url, "GRANT SELECT, INSERT, UPDATE ON ALL TABLES IN SCHEMA public TO " + role), "");
  return role;
}

postgres::DbResult station_ready(const std::string& url) {
  return postgres::PgAddressPool(url, "station-a").check_ready();
}

std::string applied_versions(const std::string& url) {
  return PgServer::query(url, "SELECT string_agg(version::text, ',' ORDER BY version) FROM skav_schema_version");
}

std::string known() { return std::to_string(postgres::known_schema_version()); }
// Every version a migration from 1 notes: "1,2,...,known".
std::string every_version() {
  std::string versions = "1";
  for (int version = 2; version <= postgres::known_schema_version(); ++version) versions += "," + std::to_string(version);
  return versions;
}

TEST(PgSchemaDeclared, MigrationOneIsTheOldTablesAndEveryRecordColumnHasAVersion) {
  std::vector<std::string> first = postgres::migration_statements(1);
  ASSERT_EQ(first.size(), 6u);
  EXPECT_EQ(first[2],
            "CREATE TABLE IF NOT EXISTS skav_records (address bigint PRIMARY KEY REFERENCES skav_addresses, "
            "host text NOT NULL, port text NOT NULL, ended_at timestamptz NOT NULL, station_id text, "
            "\"time\" text, \"adapter\" text, \"board_mac\" text, \"written_mac\" text, \"environment\" text, "
            "\"kernel\" text, \"uboot\" text, \"filesystem\" text, \"diag\" text, \"verdict\" text, "
            "\"seconds\" text)");
  for (int version = 1; version <= postgres::known_schema_version(); ++version)
    EXPECT_FALSE(postgres::migration_statements(version).empty()) << version;
  EXPECT_TRUE(postgres::migration_statements(postgres::known_schema_version() + 1).empty());
  for (const station::RecordColumn& column : station::kRecordColumns) {
    EXPECT_GE(column.since, 1) << column.name;
    EXPECT_LE(column.since, postgres::known_schema_version()) << column.name;
  }
}

TEST(PgFault, SqlStatesAreClassifiedByTheirClass) {
  struct Case {
    const char* state;
    Fault fault;
  } cases[] = {
      {"08006", Fault::kTransient}, {"57P01", Fault::kTransient}, {"57P03", Fault::kTransient},
      {"57014", Fault::kTransient}, {"53300", Fault::kTransient}, {"40001", Fault::kTransient},
      {"40P01", Fault::kTransient}, {"28P01", Fault::kLogin},     {"28000", Fault::kLogin},
      {"3D000", Fault::kLogin},     {"42501", Fault::kPermission}, {"42P01", Fault::kMissing},
      {"42703", Fault::kMissing},   {"22007", Fault::kInvalid},   {"23505", Fault::kConflict},
      {"42601", Fault::kOther},     {"57000", Fault::kOther},     {"", Fault::kOther},
  };
  for (const Case& c : cases)
    EXPECT_EQ(postgres::fault_name(postgres::classify_state(c.state)), std::string(postgres::fault_name(c.fault)))
        << c.state;
}

TEST(PgFault, TheServersErrorsAreClassifiedByTheirSqlState) {
  SKAV_REQUIRE_POSTGRES();
  std::string url = PgServer::new_database();
  ASSERT_FALSE(url.empty());
  struct Case {
    std::vector<std::string> sql;  // the last statement fails
    const char* state;
    Fault fault;
  } cases[] = {
      {{"SELECT * FROM skav_nowhere"}, "42P01", Fault::kMissing},
      {{"SELECT nowhere FROM pg_class"}, "42703", Fault::kMissing},
      {{"SELECT 1 / 0"}, "22012", Fault::kInvalid},
      {{"SELECT 'soon'::timestamptz"}, "22007", Fault::kInvalid},
      {{"CREATE TEMP TABLE twice (k int PRIMARY KEY)", "INSERT INTO twice VALUES (1)",
        "INSERT INTO twice VALUES (1)"},
       "23505", Fault::kConflict},
      {{"SELECT FROM WHERE"}, "42601", Fault::kOther},
      {{"DO $$BEGIN RAISE EXCEPTION 'serialisation' USING ERRCODE = '40001'; END$$"}, "40001",
       Fault::kTransient},
      {{"DO $$BEGIN RAISE EXCEPTION 'no right' USING ERRCODE = '42501'; END$$"}, "42501", Fault::kPermission},
      {{"SET statement_timeout = 1", "SELECT pg_sleep(5)"}, "57014", Fault::kTransient},
      // The server ends the session: libpq reports the closed connection without a SQLSTATE,
      // and the connection's state says what it is.
      {{"SELECT pg_terminate_backend(pg_backend_pid())"}, "", Fault::kTransient},
  };
  for (const Case& c : cases) {
    postgres::Session session(url);
    ASSERT_TRUE(session.opened().ok()) << session.opened().message();
    postgres::Reply reply;
    for (const std::string& sql : c.sql) reply = session.run(sql.c_str());
    EXPECT_FALSE(reply.ok) << c.sql.back();
    EXPECT_EQ(reply.state, c.state) << c.sql.back() << ": " << reply.why;
    EXPECT_EQ(postgres::fault_name(reply.fault), std::string(postgres::fault_name(c.fault))) << c.sql.back();
  }
}

TEST(PgFault, AConnectionThatFailsIsClassifiedByHowFarItGot) {
  SKAV_REQUIRE_POSTGRES();
  std::string url = PgServer::new_database();
  ASSERT_FALSE(url.empty());
  std::string barred = "barred_" + std::to_string(getpid());
  ASSERT_EQ(PgServer::query(url, "CREATE ROLE " + barred + " NOLOGIN"), "");
  std::string folder = url.substr(url.find("?host="));
  struct Case {
    std::string url;
    Fault fault;
  } cases[] = {
      {url, Fault::kNone},
      {"postgresql://skav@/skav?host=/nonexistent", Fault::kTransient},  // no server there
      {"postgresql://skav@/skav_no_such_database" + folder, Fault::kLogin},
      {"postgresql://nobody_known@/skav" + folder, Fault::kLogin},
      {as_role(url, barred), Fault::kLogin},
  };
  for (const Case& c : cases) {
    postgres::Session session(c.url);
    EXPECT_EQ(postgres::fault_name(session.opened().fault()), std::string(postgres::fault_name(c.fault)))
        << c.url << ": " << session.opened().message();
  }
}

TEST(PgSchema, ADatabaseMadeBeforeVersionsIsVersionOneAndMigratesForTheStation) {
  SKAV_REQUIRE_POSTGRES();
  for (const char* ddl : {kOldInit, kOldestInit}) {
    std::string url = PgServer::new_database();
    ASSERT_FALSE(url.empty());
    ASSERT_EQ(PgServer::query(url, ddl), "");
    postgres::Session session(url);
    int version = -1;
    ASSERT_TRUE(postgres::read_schema_version(
                    [&](const char* sql, const std::vector<std::string>& p) { return session.run(sql, p); }, version)
                    .ok());
    EXPECT_EQ(version, 1);

    postgres::PgAddressPool pool(url, "station-a");
    postgres::DbResult ready = pool.check_ready();
    ASSERT_TRUE(ready.ok()) << ready.message();
    EXPECT_EQ(applied_versions(url), every_version());
    StringLog log;
    settings::PoolResult<settings::Reservation> reserved = pool.reserve(&log, MacDigits::kDefault, false, "eth1");
    ASSERT_TRUE(reserved.ok());
    const settings::Reservation& r = reserved.value;
    EXPECT_EQ(MacDigits::text(r.address), "020000000000");
    station::BoardRecord record;
    record.time = "2026-01-02T03:04:05+00:00";
    record.written_mac = "02:00:00:00:00:00";
    record.overall = station::Verdict::kPass;
    ASSERT_TRUE(pool.finish(r, {"pass", station::record_columns(record)}).ok());

    // A station of the previous version goes on working beside it.
    EXPECT_EQ(PgServer::query(url, kOldStationStatements), "") << ddl;
    postgres::RecordsReport report;
    ASSERT_TRUE(postgres::read_records(url, "", report).ok());
    ASSERT_EQ(report.rows.size(), 2u);
    EXPECT_EQ(report.rows[1].host, "old");
    EXPECT_EQ(report.rows[1].record.written_mac, "02:00:00:00:00:C8");
    EXPECT_EQ(report.unreadable, 0u);
  }
}

TEST(PgSchema, PoolMigrateSaysFromWhichVersionAndIsHarmlessAgain) {
  SKAV_REQUIRE_POSTGRES();
  std::string url = PgServer::new_database();
  ASSERT_FALSE(url.empty());
  ASSERT_EQ(PgServer::query(url, kOldInit), "");
  struct Case {
    std::string says;
  } cases[] = {{"schema version 1 -> " + known() + " in database "},
               {"schema version " + known() + ", the newest this station knows"}};
  for (const Case& c : cases) {
    test::ProgramResult run = test::run_program({SKAV_BINARY, "pool", "migrate", "--pool", url}, 60s);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out.find(c.says), 0u) << run.out;
  }
  EXPECT_EQ(applied_versions(url), every_version());
}

TEST(PgSchema, ANewerSchemaIsRefusedNamingBothVersions) {
  SKAV_REQUIRE_POSTGRES();
  std::string url = PgServer::new_database();
  ASSERT_FALSE(url.empty());
  MacDigits::Digits first{}, last{};
  ASSERT_TRUE(MacDigits::parse("020000000000", first) && MacDigits::parse("0200000000FF", last));
  ASSERT_TRUE(postgres::init_range(url, first, last).ok());
  int newer = postgres::known_schema_version() + 1;
  ASSERT_EQ(PgServer::query(url, "INSERT INTO skav_schema_version (version) VALUES (" + std::to_string(newer) + ")"),
            "");
  std::string says = "the database's schema is version " + std::to_string(newer) +
                     ", newer than this station knows (version " + known() + "): update the station";
  postgres::DbResult ready = station_ready(url);
  EXPECT_EQ(ready.fault(), Fault::kSchema);
  EXPECT_NE(ready.message().find(says), std::string::npos) << ready.message();
  postgres::PgAddressPool pool(url, "station-a");
  StringLog log;
  settings::PoolResult<settings::Reservation> refused = pool.reserve(&log, MacDigits::kDefault, false, "eth1");
  EXPECT_EQ(refused.code, settings::PoolCode::kRefused);
  EXPECT_NE(refused.message.find(says), std::string::npos) << refused.message;
  EXPECT_EQ(PgServer::query(url, "SELECT count(*) FROM skav_addresses"), "0") << "no address given";
  int from = 0, to = 0;
  postgres::DbResult migrated = postgres::migrate(url, from, to);
  EXPECT_EQ(migrated.fault(), Fault::kSchema);
  EXPECT_NE(migrated.message().find(says), std::string::npos) << migrated.message();
  // Reading stays possible: a newer schema only adds. A value this station does not know (a
  // newer station's verdict) is counted, not hidden.
  ASSERT_EQ(PgServer::query(url, "INSERT INTO skav_addresses (address, host, port) VALUES (2199023255552, 'new', 'eth0'); "
                                 "INSERT INTO skav_records (address, host, port, ended_at, time, verdict, seconds) "
                                 "VALUES (2199023255552, 'new', 'eth0', now(), 't', 'great', '1.000')"),
            "");
  postgres::RecordsReport report;
  ASSERT_TRUE(postgres::read_records(url, "", report).ok());
  ASSERT_EQ(report.rows.size(), 1u);
  EXPECT_EQ(report.rows[0].host, "new");
  EXPECT_EQ(report.unreadable, 1u);
}

TEST(PgSchema, StationsMigratingAtOnceApplyEachVersionOnce) {
  SKAV_REQUIRE_POSTGRES();
  std::string url = PgServer::new_database();
  ASSERT_FALSE(url.empty());
  ASSERT_EQ(PgServer::query(url, kOldInit), "");
  constexpr int kStations = 6;
  std::vector<postgres::DbResult> results(kStations);
  std::vector<int> from(kStations, -1), to(kStations, -1);
  std::vector<std::thread> threads;
  for (int i = 0; i < kStations; ++i)
    threads.emplace_back([&, i] { results[i] = postgres::migrate(url, from[i], to[i]); });
  for (std::thread& t : threads) t.join();
  int migrated = 0;
  for (int i = 0; i < kStations; ++i) {
    EXPECT_TRUE(results[i].ok()) << results[i].message();
    EXPECT_EQ(to[i], postgres::known_schema_version());
    if (from[i] == 1) {
      ++migrated;
    } else {
      EXPECT_EQ(from[i], postgres::known_schema_version());
    }
  }
  EXPECT_EQ(migrated, 1) << "the lock lets one migrate; the others find its versions";
  EXPECT_EQ(applied_versions(url), every_version());
}

TEST(PgSchema, ARoleThatCannotMigrateSaysSoAndWorksOnACurrentSchema) {
  SKAV_REQUIRE_POSTGRES();
  std::string owner = PgServer::new_database();
  ASSERT_FALSE(owner.empty());
  ASSERT_EQ(PgServer::query(owner, kOldInit), "");
  std::string role = new_station_role(owner);
  std::string station = as_role(owner, role);

  postgres::DbResult ready = station_ready(station);
  EXPECT_EQ(ready.fault(), Fault::kSchema);
  for (const std::string& says : {"schema is version 1 and this station needs version " + known(),
                                  std::string("its role may not make"), std::string("skav pool migrate")})
    EXPECT_NE(ready.message().find(says), std::string::npos) << ready.message();
  int from = 0, to = 0;
  postgres::DbResult refused = postgres::migrate(station, from, to);
  EXPECT_EQ(refused.fault(), Fault::kPermission) << refused.message();
  EXPECT_NE(refused.message().find("the role that owns the pool's tables"), std::string::npos) << refused.message();
  EXPECT_EQ(PgServer::query(owner, "SELECT to_regclass('skav_schema_version') IS NULL"), "t") << "nothing changed";

  ASSERT_TRUE(postgres::migrate(owner, from, to).ok());
  ASSERT_EQ(PgServer::query(owner, "GRANT SELECT ON skav_schema_version TO " + role), "");
  postgres::PgAddressPool pool(station, "station-b");
  postgres::DbResult current = pool.check_ready();
  ASSERT_TRUE(current.ok()) << current.message();
  StringLog log;
  EXPECT_TRUE(pool.reserve(&log, MacDigits::kDefault, false, "eth1").ok());
}

}  // namespace
}  // namespace skav

#include "backends/postgres/schema.h"

#include <algorithm>

#include "core/station/records.h"

namespace skav::postgres {

namespace {

// Migration 2: indexes for the station's reconciliation at start (its own reservations without
// an outcome) and for the newest reservations that reports and dashboards show.
const char* const kMigration2[] = {
    "CREATE INDEX IF NOT EXISTS skav_addresses_open ON skav_addresses (station_id) "
    "WHERE outcome IS NULL",
    "CREATE INDEX IF NOT EXISTS skav_addresses_reserved_at ON skav_addresses (reserved_at)",
};
// Migration 3: re-tests. A board that did not pass is run again with its own address; each
// further run is a row here, keyed by the address and the attempt, and the partial unique index
// lets the whole line hold one open re-test per address. Its record columns follow the records
// table's.
const char* const kMigration3[] = {
    "CREATE TABLE IF NOT EXISTS skav_retests (address bigint NOT NULL REFERENCES skav_addresses, "
    "attempt int NOT NULL, host text NOT NULL, port text NOT NULL, station_id text, "
    "claimed_at timestamptz NOT NULL DEFAULT now(), outcome text, finished_at timestamptz, "
    "ended_at timestamptz, PRIMARY KEY (address, attempt))",
    "CREATE UNIQUE INDEX IF NOT EXISTS skav_retests_open ON skav_retests (address) WHERE outcome IS NULL",
};
// Migration 5: what each station's ports show, for the line's dashboard, and a notice on the
// "skav_line" channel whenever a record is stored, whichever station's version stored it.
const char* const kMigration5[] = {
    "CREATE TABLE IF NOT EXISTS skav_ports (station_id text NOT NULL, port int NOT NULL, "
    "host text NOT NULL, adapter text NOT NULL DEFAULT '', word text NOT NULL DEFAULT '', "
    "board int NOT NULL DEFAULT 0, step text NOT NULL DEFAULT '', progress int NOT NULL DEFAULT 0, "
    "address text NOT NULL DEFAULT '', verdict text NOT NULL DEFAULT '', "
    "reason text NOT NULL DEFAULT '', adapter_health text NOT NULL DEFAULT '', "
    "version text NOT NULL DEFAULT '', changed_at timestamptz NOT NULL DEFAULT now(), "
    "heartbeat timestamptz NOT NULL DEFAULT now(), PRIMARY KEY (station_id, port))",
    "CREATE OR REPLACE FUNCTION skav_record_notice() RETURNS trigger LANGUAGE plpgsql AS "
    "$$BEGIN PERFORM pg_notify('skav_line', 'record'); RETURN NULL; END$$",
    "CREATE OR REPLACE TRIGGER skav_records_notice AFTER INSERT ON skav_records "
    "FOR EACH ROW EXECUTE FUNCTION skav_record_notice()",
};
// Migration 6: a record's commit no longer notifies. The server lets one notifying transaction
// commit at a time and holds that turn through the commit's flush, so the line's records went to
// the disk one after the other. A board's end reaches the dashboard as its station's port row,
// which turns to the verdict (and notifies) once the record is stored; the dashboard then reads
// the records stored since its last read, by the database's own time of storing them.
const char* const kMigration6[] = {
    "DROP TRIGGER IF EXISTS skav_records_notice ON skav_records",
    "ALTER TABLE skav_records ADD COLUMN IF NOT EXISTS stored_at timestamptz DEFAULT now()",
    "CREATE INDEX IF NOT EXISTS skav_records_stored_at ON skav_records (stored_at)",
};
constexpr int kFixedMigrations = kStoredAtVersion;

// The records table's column as a migration adds it.
std::string record_column_sql(const station::RecordColumn& column) {
  return quoted_name(column.name) + " " + column.sql_type;
}

}  // namespace

int known_schema_version() {
  int version = kFixedMigrations;
  for (const station::RecordColumn& column : station::kRecordColumns) version = std::max(version, column.since);
  return version;
}

std::vector<std::string> migration_statements(int version) {
  std::vector<std::string> statements;
  if (version == 1) {
    // The tables exactly as `skav pool init` made them before there were versions; each
    // statement holds on a database that has them already.
    std::string records =
        "CREATE TABLE IF NOT EXISTS skav_records ("
        "address bigint PRIMARY KEY REFERENCES skav_addresses, "
        "host text NOT NULL, port text NOT NULL, ended_at timestamptz NOT NULL, station_id text";
    for (const station::RecordColumn& column : station::kRecordColumns)
      if (column.since == 1) records += ", " + record_column_sql(column);
    records += ")";
    statements = {
        // One row: the range, and where the search for the next free address starts.
        "CREATE TABLE IF NOT EXISTS skav_range (id int PRIMARY KEY CHECK (id = 1), "
        "first_address bigint NOT NULL, last_address bigint NOT NULL, next_address bigint NOT NULL, "
        "CHECK (first_address <= last_address))",
        // One row per address ever handed out; the key keeps it from being handed out twice.
        "CREATE TABLE IF NOT EXISTS skav_addresses (address bigint PRIMARY KEY, host text NOT NULL, "
        "port text NOT NULL, reserved_at timestamptz NOT NULL DEFAULT now(), outcome text, "
        "finished_at timestamptz, claim text, station_id text)",
        records,
        // Tables made before stations had an identity.
        "ALTER TABLE skav_addresses ADD COLUMN IF NOT EXISTS station_id text",
        "ALTER TABLE skav_records ADD COLUMN IF NOT EXISTS station_id text",
        "CREATE INDEX IF NOT EXISTS skav_records_ended_at ON skav_records (ended_at)",
    };
    return statements;
  }
  if (version == 2) statements.assign(std::begin(kMigration2), std::end(kMigration2));
  if (version == kRetestsVersion) {
    statements.assign(std::begin(kMigration3), std::end(kMigration3));
    for (const station::RecordColumn& column : station::kRecordColumns)
      if (column.since <= kRetestsVersion)
        statements.push_back("ALTER TABLE skav_retests ADD COLUMN IF NOT EXISTS " + record_column_sql(column));
  }
  if (version == 5) statements.assign(std::begin(kMigration5), std::end(kMigration5));
  if (version == kStoredAtVersion) statements.assign(std::begin(kMigration6), std::end(kMigration6));
  // A record column declared later comes with the migration of its version, in every table
  // that holds records.
  if (version >= 2)
    for (const station::RecordColumn& column : station::kRecordColumns)
      if (column.since == version) {
        statements.push_back("ALTER TABLE skav_records ADD COLUMN IF NOT EXISTS " + record_column_sql(column));
        if (version > kRetestsVersion)
          statements.push_back("ALTER TABLE skav_retests ADD COLUMN IF NOT EXISTS " + record_column_sql(column));
      }
  return statements;
}

DbResult read_schema_version(const Runner& run, int& version) {
  // to_regclass resolves a name as the pool's own statements do (the search path).
  Reply tables = run("SELECT to_regclass($1) IS NOT NULL, "
                     "to_regclass('skav_range') IS NOT NULL OR to_regclass('skav_addresses') IS NOT NULL "
                     "OR to_regclass('skav_records') IS NOT NULL",
                     {kVersionTable});
  if (!tables.ok) return DbResult::of(tables, "cannot read the database's tables");
  bool versioned = cell(tables.result, 0, 0) == "t";
  bool pool = cell(tables.result, 0, 1) == "t";
  if (!versioned) {
    version = pool ? 1 : 0;
    return {};
  }
  Reply applied = run((std::string("SELECT coalesce(max(version), 0) FROM ") + kVersionTable).c_str(), {});
  if (!applied.ok) {
    DbResult failed = DbResult::of(applied, std::string("cannot read ") + kVersionTable);
    if (failed.fault() == Fault::kPermission)
      return {Fault::kSchema, failed.message() + " (the station's role needs SELECT on it)"};
    return failed;
  }
  version = static_cast<int>(cell_number(applied.result, 0, 0));
  if (version == 0 && pool) version = 1;
  return {};
}

DbResult migrate_schema(const Runner& run, int& from, int& to) {
  const int known = known_schema_version();
  from = to = 0;
  auto abandon = [&run](DbResult result) {
    run("ROLLBACK", {});
    return result;
  };
  Reply begun = run("BEGIN", {});
  if (!begun.ok) return DbResult::of(begun, "cannot migrate the schema");
  // Whoever comes second waits here, then finds the first one's versions.
  Reply locked = run("SELECT pg_advisory_xact_lock(hashtext($1))", {kSchemaLock});
  if (!locked.ok) return abandon(DbResult::of(locked, "cannot lock the schema"));
  if (DbResult read = read_schema_version(run, from); !read.ok()) return abandon(read);
  to = from;
  if (from > known)
    return abandon({Fault::kSchema, "the database's schema is version " + std::to_string(from) +
                                        ", newer than this station knows (version " +
                                        std::to_string(known) + "): update the station"});
  if (from == known) return abandon({});
  Reply made = run((std::string("CREATE TABLE IF NOT EXISTS ") + kVersionTable +
                    " (version int PRIMARY KEY, applied_at timestamptz NOT NULL DEFAULT now(), "
                    "applied_by text NOT NULL DEFAULT current_user)")
                       .c_str(),
                   {});
  if (!made.ok) return abandon(DbResult::of(made, std::string("cannot create ") + kVersionTable));
  // A database made before versions gets migration 1 again (every statement holds on it), which
  // also completes one made before stations had an identity.
  for (int version = from <= 1 ? 1 : from + 1; version <= known; ++version) {
    for (const std::string& sql : migration_statements(version)) {
      Reply applied = run(sql.c_str(), {});
      if (!applied.ok)
        return abandon(DbResult::of(applied, "cannot apply migration " + std::to_string(version)));
    }
    Reply noted = run((std::string("INSERT INTO ") + kVersionTable +
                       " (version) VALUES ($1) ON CONFLICT (version) DO NOTHING")
                          .c_str(),
                      {std::to_string(version)});
    if (!noted.ok) return abandon(DbResult::of(noted, "cannot note migration " + std::to_string(version)));
  }
  Reply committed = run("COMMIT", {});
  if (!committed.ok) return abandon(DbResult::of(committed, "cannot migrate the schema"));
  to = known;
  return {};
}

DbResult ensure_schema(const Runner& run, const std::string& where) {
  const int known = known_schema_version();
  int version = 0;
  if (DbResult read = read_schema_version(run, version); !read.ok())
    return {read.fault(), where + ": " + read.message()};
  if (version == 0) return {Fault::kMissing, where + " has no address range (skav pool init)"};
  if (version == known) return {};
  if (version > known)
    return {Fault::kSchema, where + ": the database's schema is version " + std::to_string(version) +
                                ", newer than this station knows (version " + std::to_string(known) +
                                "): update the station"};
  int from = 0, to = 0;
  DbResult migrated = migrate_schema(run, from, to);
  if (migrated.ok()) return {};
  if (migrated.fault() == Fault::kPermission)
    return {Fault::kSchema, where + ": the database's schema is version " + std::to_string(version) +
                                " and this station needs version " + std::to_string(known) +
                                ", which its role may not make; let the tables' owner run "
                                "skav pool migrate (" + migrated.message() + ")"};
  return {migrated.fault(), where + ": " + migrated.message()};
}

DbResult migrate(const std::string& url, int& from, int& to) {
  Session session(url, "skav pool migrate");
  if (!session.opened().ok()) return session.opened();
  DbResult migrated = migrate_schema(
      [&session](const char* sql, const std::vector<std::string>& params) { return session.run(sql, params); },
      from, to);
  if (migrated.fault() == Fault::kPermission)
    return {Fault::kPermission, migrated.message() + " (run it as the role that owns the pool's tables)"};
  return migrated;
}

}  // namespace skav::postgres

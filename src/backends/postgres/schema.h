#pragma once

#include <functional>
#include <string>
#include <vector>

#include "backends/postgres/connection.h"

namespace skav::postgres {

// The schema of the line's database (docs/line-database.md is its contract): numbered
// migrations, each additive only (new tables, columns that may be NULL, indexes), so that a
// station of the previous version works on while a newer one runs. The versions applied are
// rows of skav_schema_version; a database made before there were versions is version 1,
// recognised by its tables. Migrations run in one transaction under the advisory lock that
// `skav pool init` has always taken, so stations starting together apply them once.

// The version that brought re-tests: the skav_retests table, one row per further run of an
// address, and the records' attempt column.
inline constexpr int kRetestsVersion = 3;
// The version from which a stored record does not notify and carries `stored_at`, the
// database's time of storing it (indexed), by which a reader finds the records new to it.
inline constexpr int kStoredAtVersion = 6;

// The newest schema version this build knows and makes.
int known_schema_version();

// The name of the table of applied versions, and the advisory lock's key text (hashtext()).
inline constexpr const char* kVersionTable = "skav_schema_version";
inline constexpr const char* kSchemaLock = "skav pool init";

// Runs one statement on the caller's connection, within the caller's bounds.
using Runner = std::function<Reply(const char* sql, const std::vector<std::string>& params)>;

// The statements of migration `version` (1 ... known_schema_version()), in order.
std::vector<std::string> migration_statements(int version);

// The database's schema version: the highest applied one; 1 for the pool's tables without a
// version table; 0 for a database without the pool's tables.
DbResult read_schema_version(const Runner& run, int& version);

// Brings the schema to known_schema_version() under the lock, in one transaction: `from` is
// the version found, `to` the version left. kSchema when the database is newer than this
// build knows (both versions named); kPermission (the role may not change the tables) or any
// other fault of a statement, with nothing changed.
DbResult migrate_schema(const Runner& run, int& from, int& to);

// What a station needs before it uses the database (named `where` in messages): the known
// version, migrated to when older and the role may. kMissing for a database without the pool's
// tables (skav pool init); kSchema for a newer schema, or an older one this role may not
// migrate (the message says who can).
DbResult ensure_schema(const Runner& run, const std::string& where);

// `skav pool migrate`: connects to `url` and migrates. `from`, `to` as above.
DbResult migrate(const std::string& url, int& from, int& to);

}  // namespace skav::postgres

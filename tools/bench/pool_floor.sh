#!/usr/bin/env bash
# The floor under the address pool's figure, on the same server: what a round trip, a committed
# row and a contended row cost there without the station. Then the pool itself.
#   scripts/pg-test-cluster.sh tools/bench/pool_floor.sh build/skav [SECONDS] [RESERVERS]
# (a private server; or SKAV_TEST_PG_URL=postgresql://... of a throwaway database.)
set -euo pipefail
skav=$1
seconds=${2:-10}
reservers=${3:-80}
url=${SKAV_TEST_PG_URL:?a throwaway database: run under scripts/pg-test-cluster.sh}
bindir=$(ls -d /usr/lib/postgresql/*/bin 2>&1 | sort -V | tail -n 1)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

PGOPTIONS="-c client_min_messages=warning" psql -X -q "$url" -c "DROP TABLE IF EXISTS skav_floor_row, skav_floor_rows" \
  -c "CREATE TABLE skav_floor_row (id int PRIMARY KEY, n bigint)" \
  -c "INSERT INTO skav_floor_row VALUES (1, 0)" \
  -c "CREATE TABLE skav_floor_rows (n bigserial PRIMARY KEY, at timestamptz DEFAULT now())"
echo "SELECT 1;" >"$work/select.sql"
echo "UPDATE skav_floor_row SET n = n + 1 WHERE id = 1;" >"$work/update.sql"
printf 'SET synchronous_commit = off;\nUPDATE skav_floor_row SET n = n + 1 WHERE id = 1;\n' >"$work/update_async.sql"
echo "INSERT INTO skav_floor_rows DEFAULT VALUES;" >"$work/insert.sql"

run() {  # what clients script
  local tps
  tps=$("$bindir/pgbench" -n -c "$2" -j 2 -T "$seconds" -f "$work/$3" "$url" 2>&1 |
        sed -n 's/^tps = \([0-9.]*\).*/\1/p' | head -n 1)
  printf '%-58s %10s /s\n' "$1" "$tps"
}
run "SELECT 1, one client (a round trip)" 1 select.sql
run "committed UPDATE of one row, one client" 1 update.sql
run "committed UPDATE of one row, $reservers clients" "$reservers" update.sql
run "the same, not waiting for the flush, $reservers clients" "$reservers" update_async.sql
run "committed INSERT of new rows, $reservers clients" "$reservers" insert.sql
psql -X -q "$url" -c "DROP TABLE skav_floor_row, skav_floor_rows"

"$skav" pool init --pool "$url" --first 020000000000 --last 0200FFFFFFFF >/dev/null
"$skav" bench --only pool --pool "$url" --reservers "$reservers" 2>&1 | grep "^pool"

#!/usr/bin/env bash
# A private PostgreSQL server for one test program: a temporary cluster made with Debian's
# initdb, run by an unprivileged user (nobody, when started as root) on a Unix socket in a
# temporary folder (no TCP), stopped and removed when the program ends, also on failure. The
# cluster is made without syncing its files (a throwaway); the server itself syncs as usual.
#
#   pg-test-cluster.sh PROGRAM [ARGS...]   start the server, run PROGRAM with
#                                          SKAV_TEST_PG_URL (postgresql://skav@/skav?host=DIR)
#                                          and SKAV_TEST_PG_DIR set, stop the server
#   pg-test-cluster.sh stop|start DIR      take the server of DIR away and back (for tests)
#
# Where no cluster can be made (no initdb, no unprivileged user), PROGRAM runs without
# SKAV_TEST_PG_URL and its tests skip, saying why (SKAV_TEST_PG_SKIP). Listing a program's
# tests (--gtest_list_tests) needs no server.
set -euo pipefail

bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u nobody -- "$@"
  else
    "$@"
  fi
}

server() {  # start|stop DIR
  local dir=$2
  if [ "$1" = start ]; then
    as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
      -o "-c listen_addresses='' -c unix_socket_directories='$dir' -c port=5432" start >/dev/null
  else
    as_owner "$bindir/pg_ctl" -D "$dir/data" -m fast -w -t 30 stop >/dev/null
  fi
}

case "${1:-}" in
  start|stop)
    server "$1" "$2"
    exit 0
    ;;
  "")
    echo "usage: $0 PROGRAM [ARGS...] | start DIR | stop DIR" >&2
    exit 2
    ;;
esac

for arg in "$@"; do
  [ "$arg" = --gtest_list_tests ] && exec "$@"
done

why=""
if [ -z "$bindir" ] || [ ! -x "$bindir/initdb" ]; then
  why="no PostgreSQL server programs (Debian package postgresql)"
elif [ "$(id -u)" -eq 0 ] && ! id nobody >/dev/null 2>&1; then
  why="no unprivileged user nobody to run the server as"
fi
if [ -n "$why" ]; then
  echo "pg-test-cluster: no private PostgreSQL server: $why" >&2
  SKAV_TEST_PG_SKIP="$why" exec "$@"
fi

dir=$(mktemp -d /tmp/skav-pg.XXXXXX)
chmod 755 "$dir"
[ "$(id -u)" -eq 0 ] && chown nobody "$dir"
started=0
cleanup() {
  if [ "$started" = 1 ]; then
    as_owner "$bindir/pg_ctl" -D "$dir/data" -m immediate -w -t 30 stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

if ! as_owner "$bindir/initdb" -D "$dir/data" -U skav -A trust -E UTF8 --no-sync --no-instructions \
    >"$dir/initdb.log" 2>&1; then
  cat "$dir/initdb.log" >&2
  echo "pg-test-cluster: initdb failed" >&2
  exit 1
fi
started=1
if ! server start "$dir"; then
  cat "$dir/server.log" >&2 || true
  echo "pg-test-cluster: the server did not start" >&2
  exit 1
fi
"$bindir/createdb" -h "$dir" -U skav skav

export SKAV_TEST_PG_DIR="$dir"
export SKAV_TEST_PG_URL="postgresql://skav@/skav?host=$dir"
export SKAV_TEST_PG_CLUSTER="$0"
set +e
"$@"
status=$?
set -e
exit "$status"

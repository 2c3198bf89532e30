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
#   pg-test-cluster.sh up|down FILE         one server for a whole ctest run (its fixture): `up`
#                                          starts it and writes its folder into FILE; while FILE
#                                          names a running server, PROGRAM runs on it (with
#                                          SKAV_TEST_PG_SHARED=FILE) instead of a server of its
#                                          own; `down` stops it, and so does the end of the
#                                          process that ran `up` (ctest), whatever way it ends
#
# A server per program costs 1.5-2 s (initdb, start); ctest runs each test as a program of its
# own, so the run shares one. Each test makes a database of its own (PgServer::new_database).
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

missing_reason() {
  if [ -z "$bindir" ] || [ ! -x "$bindir/initdb" ]; then
    echo "no PostgreSQL server programs (Debian package postgresql)"
  elif [ "$(id -u)" -eq 0 ] && ! id nobody >/dev/null 2>&1; then
    echo "no unprivileged user nobody to run the server as"
  fi
}

# Makes a cluster in a new folder and starts it; the folder on stdout. On failure the folder is
# gone and the logs are on stderr.
make_cluster() {
  local dir
  dir=$(mktemp -d /tmp/skav-pg.XXXXXX)
  chmod 755 "$dir"
  [ "$(id -u)" -eq 0 ] && chown nobody "$dir"
  if ! as_owner "$bindir/initdb" -D "$dir/data" -U skav -A trust -E UTF8 --no-sync --no-instructions \
      >"$dir/initdb.log" 2>&1; then
    cat "$dir/initdb.log" >&2
    echo "pg-test-cluster: initdb failed" >&2
    rm -rf "$dir"
    return 1
  fi
  if ! server start "$dir" || ! "$bindir/createdb" -h "$dir" -U skav skav; then
    cat "$dir/server.log" >&2 || true
    echo "pg-test-cluster: the server did not start" >&2
    remove_cluster "$dir"
    return 1
  fi
  echo "$dir"
}

remove_cluster() {
  as_owner "$bindir/pg_ctl" -D "$1/data" -m immediate -w -t 30 stop >/dev/null 2>&1 || true
  rm -rf "$1"
}

case "${1:-}" in
  start|stop)
    server "$1" "$2"
    exit 0
    ;;
  up)
    file=$2
    rm -f "$file"
    why=$(missing_reason)
    if [ -n "$why" ]; then
      echo "pg-test-cluster: no private PostgreSQL server: $why" >&2
      exit 0
    fi
    dir=$(make_cluster)
    echo "$dir" >"$file"
    # The run's end stops the server even when ctest never reaches `down` (interrupted, killed):
    # a watcher of its own session waits for ctest, our parent, to go.
    setsid -f bash -c 'tail --pid="$1" -f /dev/null; exec "$2" down "$3"' watcher "$PPID" "$0" "$file" \
      </dev/null >/dev/null 2>&1
    echo "pg-test-cluster: a server for this run in $dir"
    exit 0
    ;;
  down)
    file=$2
    if [ -f "$file" ]; then
      dir=$(cat "$file")
      rm -f "$file"
      if [ -n "$dir" ] && [ -d "$dir" ]; then
        as_owner "$bindir/pg_ctl" -D "$dir/data" -m immediate -w -t 30 stop >/dev/null 2>&1 || true
        # A run's databases add up to hundreds of MB: their removal need not hold up the run.
        setsid -f rm -rf "$dir" </dev/null >/dev/null 2>&1
      fi
    fi
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

shared=${SKAV_TEST_PG_SHARED:-}
if [ -n "$shared" ] && [ -f "$shared" ]; then
  dir=$(cat "$shared")
  if [ -f "$dir/data/postmaster.pid" ]; then
    export SKAV_TEST_PG_DIR="$dir"
    export SKAV_TEST_PG_URL="postgresql://skav@/skav?host=$dir"
    export SKAV_TEST_PG_CLUSTER="$0"
    exec "$@"
  fi
fi

why=$(missing_reason)
if [ -n "$why" ]; then
  echo "pg-test-cluster: no private PostgreSQL server: $why" >&2
  SKAV_TEST_PG_SKIP="$why" exec "$@"
fi

dir=""
trap '[ -n "$dir" ] && remove_cluster "$dir"' EXIT
trap 'exit 130' INT TERM HUP
dir=$(make_cluster) || exit 1

export SKAV_TEST_PG_DIR="$dir"
export SKAV_TEST_PG_URL="postgresql://skav@/skav?host=$dir"
export SKAV_TEST_PG_CLUSTER="$0"
set +e
"$@"
status=$?
set -e
exit "$status"

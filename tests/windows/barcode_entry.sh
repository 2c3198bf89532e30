#!/usr/bin/env bash
# The console reader of skav.exe under Wine: in Barcode Mode a simulated board waits for its
# address, which arrives on standard input (a pipe, as from a scanner's or a script's feed) once
# the prompt shows; the station echoes it, takes it on Enter and programs the board with it.
# Runs in the Wine prefix of the caller (scripts/test-windows.sh). The feed ends after the
# address: under Wine a pipe from the Linux side cannot be peeked, so the reader waits in its
# read until input or its end arrives (and a fifo would never end there).
#   barcode_entry.sh WINDOWS_SKAV_EXE
set -euo pipefail
windows_skav=$1
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/skav-barcode.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; echo "== log"; cat -A "$work/out" || true; echo "== status"; cat "$work/err" || true; exit 1; }

mkdir "$work/line"
cp -r "$source_dir/examples/." "$work/line/"
# Characters typed before the prompt are not an entry: the feed waits for it (at most a
# minute), types the address and Enter, and ends.
feed() {
  for _ in $(seq 600); do
    grep -q 'Input MAC Address : ' "$work/out" 2>/dev/null && break
    sleep 0.1
  done
  printf '00a0c914c829\r'
}
status=0
timeout 120 wine "$windows_skav" run --simulate=1 --boards 1 --barcode \
  --settings "$(winepath -w "$work/settings.reg")" -C "$(winepath -w "$work/line")" \
  < <(feed) >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 0 ] || fail "the station ended with $status"
grep -q $'Input MAC Address : 00a0c914c829\r\n' "$work/out" || fail "the entry was not echoed"
grep -q $'MAC Addr : 00a0c914c829 Test...Pass\r\n' "$work/out" || fail "the board did not get the address"
echo "the address typed on standard input programmed the board"

#!/usr/bin/env bash
# skav.exe under Wine with a working folder named outside every ANSI code page ("工厂 Ω"):
# config finds its config.ini, a run of two simulated ports writes the records and both port
# logs there, and a message naming such a folder reaches a pipe as the same UTF-8 bytes that
# were given. Standard input is empty: the station's console reader would wait for it. Runs in
# the Wine prefix of the caller (scripts/test-windows.sh).
#   unicode_folder.sh WINDOWS_SKAV_EXE
set -euo pipefail
windows_skav=$1
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/skav-unicode.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; echo "== out"; cat "$work/out" || true; echo "== err"; cat "$work/err" || true; exit 1; }

folder="$work/工厂 Ω"
mkdir "$folder"
cp -r "$source_dir/examples/." "$folder/"
windows_folder=$(winepath -w "$folder")

status=0
timeout 60 wine "$windows_skav" config -C "$windows_folder" </dev/null >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 0 ] || fail "config ended with $status"
grep -q '^0 kernel Filename=images/kernel.bin ' "$work/out" || fail "config did not read config.ini"
grep -q 'not configured' "$work/out" && fail "config found no sections"

status=0
timeout 120 wine "$windows_skav" run --simulate=1 --ports 2 --boards 2 --no-barcode \
  --settings "$windows_folder\\settings.reg" -C "$windows_folder" </dev/null >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 0 ] || fail "run ended with $status"
[ "$(grep -c ',pass,' "$folder/skav-records.csv")" -eq 2 ] || fail "the records are not in the folder"
for port in sim0 sim1; do
  grep -q 'All tests passed.' "$folder/$port.log" || fail "the log of $port is not in the folder"
done

status=0
timeout 60 wine "$windows_skav" run --simulate=1 -C "$windows_folder\\没有" </dev/null >"$work/out" 2>"$work/err" \
  || status=$?
[ "$status" -ne 0 ] || fail "a missing folder was taken"
grep -qF "Directory does not exist: $windows_folder\\没有" "$work/err" || fail "the folder's name did not come back whole"
echo "config, the records, the port logs and the messages kept the folder's name"

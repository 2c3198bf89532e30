#!/usr/bin/env bash
# The Windows station end to end: `skav.exe run` under Wine programs two boards that `skav board`
# of the Linux build serves on the far end of a veth pair, and must give the same log, byte for
# byte, as the Linux station gives for the same two boards; the next address it leaves in Wine's
# registry (HKEY_CURRENT_USER\Software\SKAV, MACHWID) and the records show that the boards got
# consecutive addresses. Needs root inside the private network namespace that
# scripts/test-windows.sh makes (SKAV_WINDOWS_IN_NAMESPACE=1), and SKAV_LINUX_SKAV; skips
# (exit 77) otherwise.
#   end_to_end.sh WINDOWS_SKAV_EXE
set -euo pipefail
windows_skav=$1
linux_skav=${SKAV_LINUX_SKAV:-}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
if [ "${SKAV_WINDOWS_IN_NAMESPACE:-}" != 1 ] || [ ! -x "$linux_skav" ]; then
  echo "skipped: needs the private network namespace of scripts/test-windows.sh (as root) and a Linux build"
  exit 77
fi

station_end=skave2e0
board_end=skave2e1
work=$(mktemp -d "${TMPDIR:-/tmp}/skav-e2e.XXXXXX")
board_pid=
cleanup() {
  if [ -n "$board_pid" ]; then kill "$board_pid" 2>/dev/null || true; wait "$board_pid" 2>/dev/null || true; fi
  ip link del "$station_end" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
  for f in board.log linux.err windows.err; do [ -f "$work/$f" ] && { echo "== $f"; cat "$work/$f"; }; done
  exit 1
}

ip link add "$station_end" type veth peer name "$board_end"
ip link set "$station_end" address 02:00:00:00:0e:01 up
ip link set "$board_end" up
# Four boards in a row: two for each station.
"$linux_skav" board --interface "$board_end" --mac 02:00:00:00:0e:11 --boards 4 >"$work/board.log" 2>&1 &
board_pid=$!

mkdir "$work/linux" "$work/windows"
cp -r "$source_dir/examples/." "$work/linux/"
cp -r "$source_dir/examples/." "$work/windows/"
common=(run --interface "$station_end" --boards 2 --no-barcode --mac 001122334455 --timeout 10)

start=$SECONDS
SKAV_LEDGER="$work/linux-ledger.txt" \
  timeout 120 "$linux_skav" "${common[@]}" --settings "$work/linux.reg" -C "$work/linux" \
  </dev/null >"$work/linux.log" 2>"$work/linux.err" || fail "the Linux station (exit $?)"
echo "Linux station: 2 boards in $((SECONDS - start)) s"

# The Windows station keeps its settings in the registry: start from none.
wine reg delete 'HKCU\Software\SKAV' /f >/dev/null 2>&1 || true
start=$SECONDS
SKAV_LEDGER="$(winepath -w "$work/windows-ledger.txt")" \
  timeout 180 wine "$windows_skav" "${common[@]}" -C "$(winepath -w "$work/windows")" \
  </dev/null >"$work/windows.log" 2>"$work/windows.err" || fail "the Windows station (exit $?)"
echo "Windows station under Wine: 2 boards in $((SECONDS - start)) s"

if ! cmp -s "$work/linux.log" "$work/windows.log"; then
  diff <(cat -A "$work/linux.log") <(cat -A "$work/windows.log") | head -40
  fail "the two stations' logs differ"
fi
grep -q 'Success !!' "$work/windows.log" || grep -q 'Success' "$work/windows.log" || fail "no board succeeded"

# The third address is next: the two boards took 001122334455 and 001122334456.
machwid=$(wine reg query 'HKCU\Software\SKAV' /v MACHWID 2>/dev/null | tr -d '\r' |
  awk '$1 == "MACHWID" { print $2, $3 }')
[ "$machwid" = "REG_EXPAND_SZ 001122334457" ] || fail "MACHWID in the registry is \"$machwid\""
written=$(tail -n +2 "$work/windows/skav-records.csv" | cut -d, -f4 | tr '\n' ' ')
[ "$written" = "00:11:22:33:44:55 00:11:22:33:44:56 " ] || fail "records show written addresses: $written"
# The records name the adapter by its system name (the key) and, last, by the name the system
# shows the operator, which --interface took.
names=$(tail -n +2 "$work/windows/skav-records.csv" | awk -F, '{ print $2 "|" $NF }' | sort -u)
[[ "$names" == '\Device\NPF_{'*'}|'"$station_end" ]] || fail "the records name the adapter as: $names"
# Each address is in the ledger before its board got it, and then its board's verdict.
ledger=$(grep -v '^#' "$work/windows-ledger.txt" | cut -d' ' -f2,3 | tr '\n' ' ' || true)
[ "$ledger" = "001122334455 reserved 001122334455 pass 001122334456 reserved 001122334456 pass " ] ||
  fail "the address ledger holds: $ledger"
echo "Same log as the Linux station ($(wc -c <"$work/windows.log") bytes); MACHWID now 001122334457"

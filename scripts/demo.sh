#!/usr/bin/env bash
# Builds the station program (only it) and programs three simulated boards with the example configuration.
# As root, the station and the boards talk over the real libpcap link: a veth pair in a private
# network namespace, with `skav board` on the far end. Otherwise they use the in-process link.
# Everything it starts (namespace, board, temporary files) is removed at the end.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${SKAV_DEMO_BUILD_DIR:-$root/build-demo}
boards=${SKAV_DEMO_BOARDS:-3}
SKAV_DEMO_BUILD_DIR=$build "$here/setup.sh" --demo
skav="$build/skav"

work=$(mktemp -d /tmp/skav-demo.XXXXXX)
ns="skav-demo-$$"
board_pid=""
cleanup() {
  [ -n "$board_pid" ] && kill "$board_pid" 2>/dev/null && wait "$board_pid" 2>/dev/null
  ip netns del "$ns" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

cp -r "$root/examples/." "$work/"
settings="$work/settings.reg"
# The demo's addresses are its own: the PC's address ledger is left alone.
export SKAV_LEDGER="$work/address-ledger.txt"
common=(--boards "$boards" --no-barcode --mac 0200C0FFEE00 --settings "$settings" --timeout 10 -C "$work")

if [ "$(id -u)" -eq 0 ] && ip netns add "$ns" 2>/dev/null; then
  ip netns exec "$ns" ip link set lo up
  ip netns exec "$ns" ip link add skav0 type veth peer name skav1
  ip netns exec "$ns" ip link set skav0 up
  ip netns exec "$ns" ip link set skav1 up
  echo "== SKAV demo: real libpcap link over a veth pair in network namespace $ns =="
  echo "-- skav adapters"
  ip netns exec "$ns" "$skav" adapters
  echo "-- skav run --interface skav0 (skav board --interface skav1 at the far end)"
  ip netns exec "$ns" "$skav" board --interface skav1 --boards "$boards" &
  board_pid=$!
  ip netns exec "$ns" "$skav" run --interface skav0 "${common[@]}" </dev/null
else
  echo "== SKAV demo: in-process link (run as root for the real libpcap link) =="
  "$skav" run --simulate="$boards" "${common[@]}" </dev/null
fi

echo
echo "== Production records ($work/skav-records.csv) =="
cat "$work/skav-records.csv"

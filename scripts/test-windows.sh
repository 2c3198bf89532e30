#!/usr/bin/env bash
# Cross-builds the Windows programs and the installer (scripts/build-windows.sh) and runs their
# tests under Wine in a private Wine prefix made in a temporary folder, with a virtual display
# (Xvfb) for the window's tests; both are removed afterwards, also on failure. As root, the
# tests run in a private network namespace with a veth pair whose far end has a simulated board
# (`skav board` of the Linux build, $SKAV_BUILD_DIR or build/), so that the Windows link's own
# test finds that board, and the end-to-end test (tests/windows/end_to_end.sh) makes a pair of
# its own; otherwise those tests skip. Exits non-zero on any failure. Arguments go to ctest
# (e.g. -V -R link). SKAV_WINDOWS_NO_BUILD=1 tests a build made before (scripts/test.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${SKAV_WINDOWS_BUILD_DIR:-$root/build-windows}
linux_skav=${SKAV_BUILD_DIR:-$root/build}/skav
station_end=skavwin0
board_end=skavwin1
station_mac=02:00:00:00:0a:01
board_mac=02:00:00:00:0b:01

if [ "${SKAV_WINDOWS_IN_NAMESPACE:-}" != 1 ]; then
  [ "${SKAV_WINDOWS_NO_BUILD:-}" = 1 ] || "$here/build-windows.sh"
  # Every Wine process, its services included, must start inside the namespace to see the
  # veth pair: the whole run moves there.
  if [ "$(id -u)" -eq 0 ] && [ -x "$linux_skav" ] && unshare --net true 2>/dev/null; then
    exec env SKAV_WINDOWS_IN_NAMESPACE=1 unshare --net -- "$0" "$@"
  fi
  if [ ! -x "$linux_skav" ]; then
    echo "No Linux build of skav at $linux_skav: the Windows link and end-to-end tests skip"
  else
    echo "No private network namespace (needs root): the Windows link and end-to-end tests skip"
  fi
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/skav-wine.XXXXXX")
prefix=$work/prefix
board_pid=
xvfb_pid=
cleanup() {
  if [ -n "$board_pid" ]; then
    kill "$board_pid" 2>/dev/null || true
    wait "$board_pid" 2>/dev/null || true
  fi
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

if [ "${SKAV_WINDOWS_IN_NAMESPACE:-}" = 1 ]; then
  ip link set lo up
  ip link add "$station_end" type veth peer name "$board_end"
  ip link set "$station_end" address "$station_mac" up
  ip link set "$board_end" up
  "$linux_skav" board --interface "$board_end" --mac "$board_mac" >"$work/board.log" 2>&1 &
  board_pid=$!
  export SKAV_LINUX_SKAV=$linux_skav
  export SKAV_WINDOWS_ADAPTER=$station_end
  export SKAV_WINDOWS_ADAPTER_MAC=$station_mac
  export SKAV_WINDOWS_BOARD_MAC=$board_mac
fi

# Headless: a display of our own for the window's tests, no debug output, no offer to install
# Mono or Gecko. The display is as large as the largest screen a test puts the window on
# (1920x1080): Wine keeps a window within its display.
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
. "$here/xvfb.sh"
if start_xvfb "$work" 1920x1080x24; then
  export DISPLAY=$xvfb_display
else
  echo "Xvfb did not start: the window's tests skip"
  cat "$work/xvfb.log"
fi
start=$SECONDS
wineboot -i >/dev/null 2>&1
wineserver -w
echo "Wine prefix made in $((SECONDS - start)) s"

cd "$build"
if ! ctest --output-on-failure -j"$(nproc)" -L windows "$@"; then
  [ -f "$work/board.log" ] && { echo "== skav board"; cat "$work/board.log"; }
  exit 1
fi

#!/usr/bin/env bash
# Makes the window's pictures for the documentation, with simulated boards and the example
# configuration, on a virtual X display. Builds skav and skav-gui first if needed.
#   docs/gui.png       a passing board mid-shift: earlier boards of the day are in the records
#   docs/gui-fail.png  a board whose filesystem read-back differs
#   docs/gui-ports.png four ports mid-shift in 1366x768 (the smallest screen four ports fit):
#                      sim1's filesystem read-backs differ, the other ports' boards pass
#   docs/gui-ports-8.png  eight ports mid-shift in 1920x1080 (the screen eight ports fit):
#                      sim1's filesystem read-backs differ, the other ports' boards pass
#   SKAV_BUILD_DIR   build folder (default: build)
#   SKAV_BOARDS      boards in the window before docs/gui.png is taken (default: 3)
#   SKAV_SHOT_SIZE   the window's size in pixels (default: 1280x800)
#   SKAV_PORTS_SHOT_SIZE  the four ports' window (default: 1366x768)
#   SKAV_PORTS8_SHOT_SIZE the eight ports' window (default: 1920x1080)
#   SKAV_SHOT_DIR    where the pictures go (default: docs)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${SKAV_BUILD_DIR:-$root/build}
boards=${SKAV_BOARDS:-3}
size=${SKAV_SHOT_SIZE:-1280x800}
out_dir=${SKAV_SHOT_DIR:-$root/docs}

command -v Xvfb >/dev/null || { echo "screenshot.sh: Xvfb is missing (apt-get install xvfb)" >&2; exit 1; }

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" --target skav skav-gui -j"$(nproc)"
gui=$build/src/frontends/qt/skav-gui
skav=$build/skav

work=$(mktemp -d)
xvfb_pid=
gui_pid=
cleanup() {
  if [ -n "$gui_pid" ] && kill -0 "$gui_pid" 2>/dev/null; then kill "$gui_pid"; wait "$gui_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ] && kill -0 "$xvfb_pid" 2>/dev/null; then kill "$xvfb_pid"; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# A copy of the examples to work in, and settings of our own: Barcode Mode off, so the boards
# are programmed without anyone typing their addresses.
mkdir -p "$work/line"
cp -r "$root/examples/." "$work/line/"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\SKAV]\r\n"BarCode"=dword:00000000\r\n' \
  >"$work/settings.reg"

. "$here/xvfb.sh"
start_xvfb "$work" 1920x1080x24 || { echo "screenshot.sh: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
display=$xvfb_display

# The day so far: eight boards programmed without the window.
"$skav" run --simulate=8 --boards 8 --no-barcode --settings "$work/settings.reg" -C "$work/line" \
  >/dev/null 2>"$work/earlier.log" || { cat "$work/earlier.log" >&2; exit 1; }

# skav-gui grabs its own window once its boards are done (at most 120 s) and quits.
shoot() {
  local picture=$1 count=$2
  shift 2
  # Its own per-user choices (zoom, fold) stay at their defaults, whatever this user chose.
  DISPLAY=$display QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME=$work/config "$gui" --simulate="$count" --settings "$work/settings.reg" \
    -C "$work/line" --size "$size" --screenshot "$work/shot.png" --screenshot-timeout 120 "$@" &
  gui_pid=$!
  local status=0
  wait "$gui_pid" || status=$?
  gui_pid=
  if [ "$status" -ne 0 ] || [ ! -s "$work/shot.png" ]; then
    echo "screenshot.sh: skav-gui failed (exit $status)" >&2
    exit 1
  fi
  mkdir -p "$out_dir"
  mv "$work/shot.png" "$out_dir/$picture"
}

# One board whose fourth read (the filesystem's read-back) comes back with a byte changed.
shoot gui-fail.png 1 --simulate-corrupt-read 4
shoot gui.png "$boards"
# Four ports with their boards each; the second port's boards all come back with a byte changed.
shoot gui-ports.png "$boards" --ports 4 --simulate-corrupt-read 4 --simulate-fault-port 1 \
  --size "${SKAV_PORTS_SHOT_SIZE:-1366x768}"
# Eight ports, the second one's boards again with a byte changed.
shoot gui-ports-8.png "$boards" --ports 8 --simulate-corrupt-read 4 --simulate-fault-port 1 \
  --size "${SKAV_PORTS8_SHOT_SIZE:-1920x1080}"
records=$(($(wc -l <"$work/line/skav-records.csv") - 1))
echo "screenshot.sh: $out_dir/gui.png and $out_dir/gui-fail.png at $size, $out_dir/gui-ports.png at ${SKAV_PORTS_SHOT_SIZE:-1366x768}, $out_dir/gui-ports-8.png at ${SKAV_PORTS8_SHOT_SIZE:-1920x1080} ($records boards in the records)"

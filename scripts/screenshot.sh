#!/usr/bin/env bash
# Makes docs/gui.png: the window after it has programmed simulated boards with the example
# configuration, on a virtual X display. Builds skav-gui first if needed.
#   SKAV_BUILD_DIR   build folder (default: build)
#   SKAV_BOARDS      boards to program before the picture (default: 3)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${SKAV_BUILD_DIR:-$root/build}
boards=${SKAV_BOARDS:-3}
out=$root/docs/gui.png

command -v Xvfb >/dev/null || { echo "screenshot.sh: Xvfb is missing (apt-get install xvfb)" >&2; exit 1; }

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" --target skav-gui -j"$(nproc)"
gui=$build/src/gui/skav-gui

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

# Xvfb picks a free display itself and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
  sleep 0.1
done
[ -s "$work/display" ] || { echo "screenshot.sh: Xvfb did not start" >&2; exit 1; }
display=:$(tr -d '[:space:]' <"$work/display")

# skav-gui grabs its own window once the boards are done (at most 120 s) and quits.
mkdir -p "$(dirname "$out")"
DISPLAY=$display QT_QPA_PLATFORM=xcb "$gui" --simulate="$boards" --settings "$work/settings.reg" \
  -C "$work/line" --screenshot "$work/gui.png" --screenshot-timeout 120 &
gui_pid=$!
status=0
wait "$gui_pid" || status=$?
gui_pid=
if [ "$status" -ne 0 ] || [ ! -s "$work/gui.png" ]; then
  echo "screenshot.sh: skav-gui failed (exit $status)" >&2
  exit 1
fi
records=$(($(wc -l <"$work/line/skav-records.csv") - 1))
mv "$work/gui.png" "$out"
echo "screenshot.sh: $out ($records boards programmed)"

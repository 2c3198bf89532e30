#!/usr/bin/env bash
# Makes docs/gui-windows.png: skav-gui.exe under Wine on a virtual X display, after it has
# programmed simulated boards with the example configuration. Builds the Windows programs first
# when they are missing (scripts/build-windows.sh). The Wine prefix and the display are its own
# and are removed afterwards.
#   SKAV_WINDOWS_BUILD_DIR   build folder (default: build-windows)
#   SKAV_BOARDS              boards to program on each port before the picture (default: 3)
#   SKAV_PORTS               simulated ports, one tile each (default: 1)
#   SKAV_SHOT_SIZE           the screen's size, WIDTHxHEIGHT; when given, the window fills it, to
#                            check that the ports fit a screen: 1366x768 with 4 ports,
#                            1920x1080 with 8 (default: the window's own size on a 1024x768 screen)
#   SKAV_SHOT_FILE           the picture (default: docs/gui-windows.png)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${SKAV_WINDOWS_BUILD_DIR:-$root/build-windows}
boards=${SKAV_BOARDS:-3}
ports=${SKAV_PORTS:-1}
size=${SKAV_SHOT_SIZE:-}
out=${SKAV_SHOT_FILE:-$root/docs/gui-windows.png}
case "$size" in
  '' | [1-9]*x[1-9]*) ;;
  *) echo "screenshot-windows.sh: SKAV_SHOT_SIZE needs WIDTHxHEIGHT, not $size" >&2; exit 2 ;;
esac

[ -x "$build/src/frontends/win32/skav-gui.exe" ] || "$here/build-windows.sh"
gui=$build/src/frontends/win32/skav-gui.exe

work=$(mktemp -d "${TMPDIR:-/tmp}/skav-shot.XXXXXX")
xvfb_pid=
cleanup() {
  WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
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
start_xvfb "$work" "${size:-1024x768}x24" || { echo "screenshot-windows.sh: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=$xvfb_display
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i >/dev/null 2>&1
# Without a window manager Wine draws the window's caption and frame itself, as Windows does.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null

status=0
sized=()
[ -n "$size" ] && sized=(--size "$size")
wine "$gui" --simulate="$boards" --ports "$ports" "${sized[@]}" --settings "$(winepath -w "$work/settings.reg")" \
  -C "$(winepath -w "$work/line")" --screenshot "$(winepath -w "$work/gui.png")" \
  --screenshot-timeout 120 || status=$?
if [ "$status" -ne 0 ] || [ ! -s "$work/gui.png" ]; then
  echo "screenshot-windows.sh: skav-gui.exe failed (exit $status)" >&2
  exit 1
fi
records=$(($(wc -l <"$work/line/skav-records.csv") - 1))
mkdir -p "$(dirname "$out")"
mv "$work/gui.png" "$out"
echo "screenshot-windows.sh: $out ($records boards programmed)"

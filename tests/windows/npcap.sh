#!/usr/bin/env bash
# The installer's Npcap finding (installer/npcap.nsh) under Wine, built into a probe with the
# same makensis: Npcap counts by its own uninstall entry and version in either registry view,
# never by a wpcap.dll in System32 (Wine has one of its own). Runs in the Wine prefix of the
# caller (scripts/test-windows.sh). Skips (exit 77) without makensis.
#   npcap.sh INSTALLER_FOLDER
set -euo pipefail
command -v makensis >/dev/null || { echo "skipped: no makensis"; exit 77; }
drive=${WINEPREFIX:?runs in the Wine prefix of scripts/test-windows.sh}/drive_c
work=$(mktemp -d "$drive/npcap-probe.XXXXXX")
trap 'rm -rf "$work"' EXIT
makensis -V1 -DOUTFILE="$work/probe.exe" -DINSTALLER="$1" "$(dirname "$0")/npcap_probe.nsi"

# Wine's wpcap.dll in System32, without Npcap's registration, must not count as Npcap.
[ -f "$drive/windows/system32/wpcap.dll" ] || echo "note: this prefix has no wpcap.dll"
# Its output goes to a file: Wine processes it starts could outlive it with ctest's pipe.
wine "$work/probe.exe" >"$work/wine.log" 2>&1 </dev/null ||
  { echo "FAILED: the probe ended with $?"; cat "$work/wine.log"; exit 1; }
# The probe's cases in order: no registration (only a wpcap.dll), a release before 1.00, 1.00,
# a later one, and one registered by a 32-bit installer.
expected='missing 
old 0.9986
ok 1.00
ok 1.79
ok 1.79'
found=$(cat "$work/npcap-found.txt")
if [ "$found" != "$expected" ]; then
  echo "FAILED: the installer's finding of Npcap differs:"
  diff <(echo "$expected") <(echo "$found") || true
  exit 1
fi
echo "Npcap found by its registration and version, in both registry views"

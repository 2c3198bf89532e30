#!/usr/bin/env bash
# The MSI package's check for Npcap (installer/skav.wxs) under Wine: the package is built with
# the same wixl from stand-in programs, and the probe (msi_npcap_test.cpp) evaluates its
# launch condition in Windows Installer sessions of it. Runs in the Wine prefix of the caller
# (scripts/test-windows.sh). Skips (exit 77) without wixl.
#   msi_npcap.sh INSTALLER_FOLDER PROBE_EXE
set -euo pipefail
command -v wixl >/dev/null || { echo "skipped: no wixl"; exit 77; }
drive=${WINEPREFIX:?runs in the Wine prefix of scripts/test-windows.sh}/drive_c
work=$(mktemp -d "$drive/msi-npcap.XXXXXX")
trap 'rm -rf "$work"' EXIT
touch "$work/skav.exe" "$work/skav-gui.exe" "$work/README.md"
cat >"$work/examples.wxs" <<'WXS'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Fragment><ComponentGroup Id="ExampleFiles"/></Fragment>
</Wix>
WXS
(cd "$work" && wixl -a x64 -D Version=1.0 -D Stage=. -D Win64=yes -o skav.msi "$1/skav.wxs" examples.wxs)
# Its output goes to a file: Wine processes it starts could outlive it with ctest's pipe.
status=0
SKAV_TEST_MSI="C:\\${work#"$drive/"}\\skav.msi" wine "$2" --gtest_brief=1 >"$work/probe.log" 2>&1 </dev/null ||
  status=$?
cat "$work/probe.log"
exit $status

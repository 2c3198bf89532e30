#!/usr/bin/env bash
# The installer under Wine: a silent install (/S) puts the programs, the README and the
# examples into Program Files, the Start menu entries and the uninstaller's registration in
# place, and the installed skav.exe runs; a silent uninstall removes them again. Runs in the
# Wine prefix of the caller (scripts/test-windows.sh). Skips (exit 77) when no installer has
# been made.
#   install.sh SKAV_SETUP_EXE
set -euo pipefail
setup=$1
if [ ! -f "$setup" ]; then
  echo "skipped: no installer at $setup (scripts/build-windows.sh makes it)"
  exit 77
fi
fail() { echo "FAILED: $*"; exit 1; }
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\SKAV'

wine "$setup" /S
folder=$(winepath -u 'C:\Program Files\SKAV')
menu=$(winepath -u 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\SKAV')
for file in skav.exe skav-gui.exe README.md uninstall.exe examples/config.ini; do
  [ -f "$folder/$file" ] || fail "not installed: $file"
done
for link in "SKAV.lnk" "SKAV Command Prompt.lnk" "Uninstall SKAV.lnk"; do
  [ -f "$menu/$link" ] || fail "no Start menu entry $link"
done
wine reg query "$key" /v UninstallString 2>/dev/null | grep -q 'uninstall.exe' ||
  fail "the uninstaller is not registered"
ledger_folder=$(winepath -u 'C:\ProgramData\SKAV')
[ -d "$ledger_folder" ] || fail "no folder for the address ledger: $ledger_folder"
sections=$(wine "$folder/skav.exe" config -C 'C:\Program Files\SKAV\examples' | grep -c 'Filename=' || true)
[ "$sections" -eq 5 ] || fail "the installed skav.exe read $sections sections of the examples"

# The uninstaller copies itself away and runs from there, so that it can remove itself: wine
# returns before it is done. Look until the folder is gone (at most a minute).
wine "$folder/uninstall.exe" /S
for _ in $(seq 600); do
  [ -e "$folder" ] || break
  sleep 0.1
done
[ ! -e "$folder" ] || fail "left behind: $(cd "$folder" && ls -A | tr '\n' ' ')"
[ ! -e "$menu" ] || fail "the Start menu entries are left behind"
if wine reg query "$key" >/dev/null 2>&1; then fail "the uninstaller's registration is left behind"; fi
echo "installed, ran and uninstalled silently"

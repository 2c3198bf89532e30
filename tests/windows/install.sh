#!/usr/bin/env bash
# The installer under Wine: a silent install (/S) puts the programs, the README and the
# examples into Program Files, makes the data folder ProgramData\SKAV with the examples and
# the rights for the station's users, the Start menu entries (starting in that folder) and the
# uninstaller's registration, and the installed skav.exe reads the data folder's config.ini.
# A second install keeps what the station changed there, while a third, started meanwhile,
# refuses to run beside it; a silent uninstall removes the programs and keeps the data folder.
# Runs in the Wine prefix of the caller (scripts/test-windows.sh). Skips (exit 77) when no
# installer has been made.
#   install.sh SKAV_SETUP_EXE FAKE_ICACLS_EXE
set -euo pipefail
setup=$1
if [ ! -f "$setup" ]; then
  echo "skipped: no installer at $setup (scripts/build-windows.sh makes it)"
  exit 77
fi
. "$(dirname "$0")/install_support.sh"
use_fake_icacls "$2"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\SKAV'

in_wine "$setup" /S || fail "the install ended with $?"
for file in skav.exe skav-gui.exe README.md uninstall.exe examples/config.ini; do
  [ -f "$program_folder/$file" ] || fail "not installed: $file"
done
for link in "SKAV.lnk" "SKAV Command Prompt.lnk" "Uninstall SKAV.lnk"; do
  [ -f "$machine_menu/$link" ] || fail "no Start menu entry $link"
done
expect_working_folder "$machine_menu/SKAV.lnk"
expect_working_folder "$machine_menu/SKAV Command Prompt.lnk"
in_wine_out reg query "$key" /v UninstallString || true
grep -q 'uninstall.exe' "$wine_log.out" || fail "the uninstaller is not registered"
expect_examples_in_data_folder "first install"
expect_rights "first install"
in_wine_out "$program_folder/skav.exe" config -C "$data_folder_windows" || true
sections=$(grep -c 'Filename=' "$wine_log.out" || true)
[ "$sections" -eq 5 ] || fail "the installed skav.exe read $sections sections in the data folder"

# What the station made of its data folder: an edited configuration, a removed image, records.
printf '; edited for this line\r\n' >>"$data_folder/config.ini"
cp "$data_folder/config.ini" "$icacls_folder/config.ini.edited"
rm "$data_folder/images/diag.txt"
printf 'a record\n' >"$data_folder/skav-records.csv"

# A second install, held at its first icacls, keeps the set-up's mutex; a third leaves at once.
touch "$icacls_folder/hold"
in_wine "$setup" /S &
second=$!
wait_for appears "$icacls_folder/held" || { kill "$second"; fail "the second install never set rights"; }
third=0
in_wine "$setup" /S || third=$?
rm "$icacls_folder/hold"
second_result=0
wait "$second" || second_result=$?
[ "$third" -eq 2 ] || fail "an install beside another ended with $third, not 2 (refused)"
[ "$second_result" -eq 0 ] || fail "the second install ended with $second_result"
cmp -s "$icacls_folder/config.ini.edited" "$data_folder/config.ini" ||
  fail "the reinstall changed the station's config.ini"
[ ! -e "$data_folder/images/diag.txt" ] || fail "the reinstall put an example back"
[ -f "$data_folder/skav-records.csv" ] || fail "the reinstall lost the records"

# The uninstaller copies itself away and runs from there, so that it can remove itself: wine
# returns before it is done.
in_wine "$program_folder/uninstall.exe" /S
wait_for gone "$program_folder" ||
  fail "left behind: $(cd "$program_folder" && ls -A | tr '\n' ' ')"
[ ! -e "$machine_menu" ] || fail "the Start menu entries are left behind"
if in_wine reg query "$key"; then fail "the uninstaller's registration is left behind"; fi
cmp -s "$icacls_folder/config.ini.edited" "$data_folder/config.ini" ||
  fail "the uninstall did not keep config.ini"
[ -f "$data_folder/skav-records.csv" ] || fail "the uninstall did not keep the records"
echo "installed, ran, kept the data folder on reinstall and uninstall, refused a second installer"

#!/usr/bin/env bash
# The MSI package under Wine: `msiexec /i /qn` puts the programs, the README and the examples
# into Program Files, the examples into the data folder ProgramData\SKAV with the rights for
# the station's users, and the Start menu entries (starting in that folder); `msiexec /x /qn`
# removes the programs and the entries and keeps the data folder with what the station made.
# Runs in the Wine prefix of the caller (scripts/test-windows.sh). Skips (exit 77) when no
# package has been made.
#   msi_install.sh SKAV_MSI FAKE_ICACLS_EXE
set -euo pipefail
package=$1
if [ ! -f "$package" ]; then
  echo "skipped: no package at $package (scripts/build-windows.sh makes it)"
  exit 77
fi
. "$(dirname "$0")/install_support.sh"
use_fake_icacls "$2"
package_windows="Z:${package//\//\\}"
# Wine's msiexec puts a per-machine package's shortcuts into the installing user's Start menu;
# Windows into every user's.
user_menu="$drive/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/SKAV"

in_wine msiexec /i "$package_windows" /qn || fail "msiexec /i ended with $?"
for file in skav.exe skav-gui.exe README.md examples/config.ini examples/images/kernel.bin; do
  [ -f "$program_folder/$file" ] || fail "not installed: $file"
done
menu=$machine_menu
[ -d "$menu" ] || menu=$user_menu
for link in "SKAV.lnk" "SKAV Command Prompt.lnk" "Uninstall SKAV.lnk"; do
  [ -f "$menu/$link" ] || fail "no Start menu entry $link"
done
expect_working_folder "$menu/SKAV.lnk"
expect_working_folder "$menu/SKAV Command Prompt.lnk"
expect_examples_in_data_folder "install"
expect_rights "install"

printf '; edited for this line\r\n' >>"$data_folder/config.ini"
cp "$data_folder/config.ini" "$icacls_folder/config.ini.edited"
printf 'a record\n' >"$data_folder/skav-records.csv"

in_wine msiexec /x "$package_windows" /qn || fail "msiexec /x ended with $?"
[ ! -e "$program_folder" ] ||
  fail "left behind: $(cd "$program_folder" && find . -type f | tr '\n' ' ')"
[ ! -e "$machine_menu" ] && [ ! -e "$user_menu" ] || fail "the Start menu entries are left behind"
cmp -s "$icacls_folder/config.ini.edited" "$data_folder/config.ini" ||
  fail "the uninstall did not keep config.ini"
[ -f "$data_folder/skav-records.csv" ] || fail "the uninstall did not keep the records"
[ -f "$data_folder/images/kernel.bin" ] || fail "the uninstall did not keep the images"
echo "installed and uninstalled the package silently, kept the data folder"

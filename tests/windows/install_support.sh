# Shared by the installer tests (install.sh, msi_install.sh), sourced: the prefix's folders,
# a stand-in icacls.exe that records the rights an installer asks for, and the checks of the
# data folder, the shortcuts' working folder and those rights. Needs WINEPREFIX (set by
# scripts/test-windows.sh).
# Wine starts its own processes (explorer, services) on demand with the fds of the program that
# needed them, and they live as long as the prefix's server, which another test may keep
# running: started with this test's output they would hold ctest's pipe open after the test
# ends. Every Wine program here writes to files instead.
wine_log=$(mktemp "${TMPDIR:-/tmp}/skav-install-wine.XXXXXX")
trap 'rm -f "$wine_log" "$wine_log.out"' EXIT
fail() {
  echo "FAILED: $*"
  echo "== Wine's output"
  cat "$wine_log"
  exit 1
}
# Runs a Wine program, its output appended to the log.
in_wine() { wine "$@" >>"$wine_log" 2>&1 </dev/null; }
# Runs a Wine program; its standard output is left in "$wine_log.out".
in_wine_out() { wine "$@" >"$wine_log.out" 2>>"$wine_log" </dev/null; }

drive=${WINEPREFIX:?the installer tests run in the Wine prefix of scripts/test-windows.sh}/drive_c
program_folder="$drive/Program Files/SKAV"
data_folder="$drive/ProgramData/SKAV"
data_folder_windows='C:\ProgramData\SKAV'
machine_menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/SKAV"
icacls_folder="$drive/icacls-test"
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_examples=$(dirname "$(dirname "$here")")/examples

# Puts the stand-in in place of Wine's icacls (which does nothing) and starts from no data
# folder, no programs, no Start menu entries and no recorded calls: the other installer test
# leaves a data folder (as an uninstall keeps it), and its programs and entries when it failed.
use_fake_icacls() {
  cp "$1" "$drive/windows/system32/icacls.exe"
  in_wine reg add 'HKCU\Software\Wine\DllOverrides' /v icacls.exe /d native /f
  rm -rf "$data_folder" "$program_folder" "$machine_menu" "$icacls_folder"
}

# Every example file is in the data folder with the same bytes.
expect_examples_in_data_folder() {
  local file
  while IFS= read -r -d '' file; do
    file=${file#"$source_examples"/}
    cmp -s "$source_examples/$file" "$data_folder/$file" ||
      fail "$1: the data folder lacks the example $file"
  done < <(find "$source_examples" -type f -print0)
}

# The shortcut starts its program in the data folder (a trailing backslash aside).
expect_working_folder() {
  local folder
  folder=$(python3 "$here/shortcut_folder.py" "$1") || fail "not a shortcut: $1"
  [ "${folder%\\}" = "$data_folder_windows" ] ||
    fail "${1##*/} starts in '$folder', not in the data folder"
}

# The rights asked for, in order: the station's users make and change files in the data
# folder but not the folder itself; the configuration and the images are read-only for them.
expect_rights() {
  local expected asked
  expected="$data_folder_windows /remove:g *S-1-5-32-545
$data_folder_windows /grant *S-1-5-32-545:(RX,WD) *S-1-5-32-545:(OI)(CI)(IO)M
$data_folder_windows\\*.ini /inheritance:r /grant:r *S-1-5-32-544:F *S-1-5-18:F *S-1-5-32-545:RX
$data_folder_windows\\images /inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX"
  [ -f "$icacls_folder/calls.log" ] || fail "$1: icacls was not called"
  # "FOLDER\." (as a package names a folder) is the folder.
  asked=$(sed 's/\\\.\( \|$\)/\1/' "$icacls_folder/calls.log")
  [ "$asked" = "$expected" ] || fail "$1: the rights asked for differ:
$asked
-- expected --
$expected"
}

# Looks (at most a minute) until `path` is gone, or (with "appears") there.
wait_for() {
  local _
  for _ in $(seq 600); do
    if [ "$1" = gone ]; then [ -e "$2" ] || return 0; else [ -e "$2" ] && return 0; fi
    sleep 0.1
  done
  return 1
}

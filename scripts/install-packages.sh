#!/usr/bin/env bash
# Installs the Debian packages of scripts/debian-packages.txt that are missing (apt-get, as root
# or through sudo). The one package list of every build and test script. With --demo, only the
# packages marked "demo" there: what the station program and the demo need.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

only=
[ "${1:-}" = --demo ] && only=demo
mapfile -t wanted < <(awk -v only="$only" '/^[[:space:]]*(#|$)/ { next }
  only == "" || $2 == only { print $1 }' "$here/debian-packages.txt")
missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing Debian packages: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

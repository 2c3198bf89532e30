#!/usr/bin/env bash
# Installs the Debian packages of scripts/debian-packages.txt that are missing, makes the address
# ledger's folder /var/lib/skav when run as root, then configures and builds SKAV into build/
# (or $SKAV_BUILD_DIR). Extra arguments go to cmake's configure step.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${SKAV_BUILD_DIR:-$root/build}

"$here/install-packages.sh"

# The folder of the PC's address ledger, shared by every account that runs the station: the
# members of the group skav may write it, and the setgid bit gives new files that group.
if [ "$(id -u)" -eq 0 ]; then
  getent group skav >/dev/null || groupadd --system skav
  install -d -m 2775 -g skav /var/lib/skav
fi

werror=OFF
[ -n "${CI:-}" ] && werror=ON
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=${SKAV_BUILD_TYPE:-RelWithDebInfo} -DSKAV_WERROR=$werror "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"

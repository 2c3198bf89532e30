#!/usr/bin/env bash
# Installs the Debian packages of scripts/debian-packages.txt that are missing, then configures
# and builds SKAV into build/ (or $SKAV_BUILD_DIR). Extra arguments go to cmake's configure step.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${SKAV_BUILD_DIR:-$root/build}

"$here/install-packages.sh"

werror=OFF
[ -n "${CI:-}" ] && werror=ON
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=${SKAV_BUILD_TYPE:-RelWithDebInfo} -DSKAV_WERROR=$werror "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"

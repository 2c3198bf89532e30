#!/usr/bin/env bash
# Installs the Debian packages of scripts/debian-packages.txt that are missing, then configures
# and builds SKAV into build/ (or $SKAV_BUILD_DIR). Extra arguments go to cmake's configure step.
# With --demo first: only the demo's packages, and only the station program `skav` (no window,
# no tests), into build-demo/ (or $SKAV_DEMO_BUILD_DIR), so that the demo neither waits for
# nor disturbs the full build.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${SKAV_BUILD_DIR:-$root/build}
demo=
if [ "${1:-}" = --demo ]; then
  demo=1
  shift
  build=${SKAV_DEMO_BUILD_DIR:-$root/build-demo}
fi

"$here/install-packages.sh" ${demo:+--demo}

werror=OFF
[ -n "${CI:-}" ] && werror=ON
if [ -n "$demo" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=${SKAV_BUILD_TYPE:-RelWithDebInfo} -DSKAV_WERROR=$werror \
    -DSKAV_GUI=OFF -DBUILD_TESTING=OFF "$@" >/dev/null
  cmake --build "$build" -j"$(nproc)" --target skav
  exit 0
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=${SKAV_BUILD_TYPE:-RelWithDebInfo} -DSKAV_WERROR=$werror "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"

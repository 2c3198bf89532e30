#!/usr/bin/env bash
# Installs the Debian packages of scripts/debian-packages.txt that are missing, makes the address
# ledger's folder /var/lib/skav when run as root, then configures and builds SKAV into build/
# (or $SKAV_BUILD_DIR). Extra arguments go to cmake's configure step.
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

# The folder of the PC's address ledger, shared by every account that runs the station: the
# members of the group skav may write it, and the setgid bit gives new files that group.
if [ "$(id -u)" -eq 0 ]; then
  getent group skav >/dev/null || groupadd --system skav
  install -d -m 2775 -g skav /var/lib/skav
fi

werror=OFF
line_info=OFF
[ -n "${CI:-}" ] && werror=ON line_info=ON
# Ninja for a new build folder (a configured one keeps its generator); CMAKE_GENERATOR or
# SKAV_GENERATOR name another. CMAKE_CXX_COMPILER_LAUNCHER (e.g. ccache) is honoured.
generator=()
[ -f "$build/CMakeCache.txt" ] || generator=(-G "${SKAV_GENERATOR:-${CMAKE_GENERATOR:-Ninja}}")
if [ -n "$demo" ]; then
  cmake "${generator[@]}" -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=${SKAV_BUILD_TYPE:-RelWithDebInfo} -DSKAV_WERROR=$werror \
    -DSKAV_GUI=OFF -DBUILD_TESTING=OFF "$@" >/dev/null
  cmake --build "$build" -j"$(nproc)" --target skav
  exit 0
fi
cmake "${generator[@]}" -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=${SKAV_BUILD_TYPE:-RelWithDebInfo} -DSKAV_WERROR=$werror \
  -DSKAV_LINE_INFO=$line_info "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"

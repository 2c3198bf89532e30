#!/usr/bin/env bash
# Builds SKAV and runs every test. Integration tests that need a private network namespace
# skip with a message when not run as root.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${SKAV_BUILD_DIR:-$root/build}
"$here/setup.sh"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"

#!/usr/bin/env bash
# Builds SKAV and runs every test. Integration tests that need a private network namespace
# skip with a message when not run as root. Then the same suite runs again under the address
# and undefined-behaviour sanitizers (scripts/sanitize.sh, without the Qt window, whose tests
# run here), and every fuzz target runs briefly (scripts/fuzz.sh; SKAV_FUZZ_SECONDS each,
# default 5 here). The Windows programs are cross-built and their tests run under Wine
# (scripts/test-windows.sh). SKAV_TEST_WINDOWS=0, SKAV_TEST_SANITIZE=0 or SKAV_TEST_FUZZ=0
# leave a step out.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${SKAV_BUILD_DIR:-$root/build}
"$here/setup.sh"
cd "$build"
ctest --output-on-failure -j"$(nproc)" | tee "$build/ctest-summary.log"
summary=$(grep -E '^[0-9]+% tests passed' "$build/ctest-summary.log" | tail -n 1)
steps="build and suite: ${SECONDS} s"

if [ "${SKAV_TEST_WINDOWS:-1}" != 0 ]; then
  echo "== Windows build and tests under Wine"
  start=$SECONDS
  SKAV_BUILD_DIR=$build "$here/test-windows.sh"
  steps+=", Windows: $((SECONDS - start)) s"
fi
if [ "${SKAV_TEST_SANITIZE:-1}" != 0 ]; then
  echo "== Sanitizer build and suite"
  start=$SECONDS
  "$here/sanitize.sh"
  steps+=", sanitizers: $((SECONDS - start)) s"
fi
if [ "${SKAV_TEST_FUZZ:-1}" != 0 ]; then
  echo "== Fuzzing"
  start=$SECONDS
  SKAV_FUZZ_SECONDS=${SKAV_FUZZ_SECONDS:-5} "$here/fuzz.sh"
  steps+=", fuzzing: $((SECONDS - start)) s"
fi
echo "== Done ($steps)"
echo "$summary"

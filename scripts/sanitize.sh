#!/usr/bin/env bash
# Builds SKAV with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/ (or
# $SKAV_ASAN_BUILD_DIR) and runs the ctest suite under them, integration tests included.
# clang by default, which builds this tree about a third faster than gcc; SKAV_ASAN_CXX=g++
# takes gcc (the choice sticks to a build folder once configured).
# The Qt window is left out (SKAV_GUI=OFF): its tests run in the normal build. Leaks are
# reported where LeakSanitizer can run (it cannot under some debuggers and containers).
# Each file is compiled once, for both sanitizers. --build-only stops after the build,
# --no-build runs the suite of a folder built before (scripts/test.sh builds while another
# step's tests run).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${SKAV_ASAN_BUILD_DIR:-$root/build-asan}
do_build=1
do_test=1
case "${1:-}" in
  --build-only) do_test=0 ;;
  --no-build) do_build=0 ;;
esac

werror=OFF
line_info=OFF
[ -n "${CI:-}" ] && werror=ON line_info=ON
cxx=${SKAV_ASAN_CXX:-clang++}
cc=clang
[[ "$cxx" == *g++* ]] && cc=gcc
generator=()
[ -f "$build/CMakeCache.txt" ] || generator=(-G "${SKAV_GENERATOR:-${CMAKE_GENERATOR:-Ninja}}")
if [ "$do_build" = 1 ]; then
  CC=$cc CXX=$cxx cmake "${generator[@]}" -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug \
    -DSKAV_SANITIZE=ON -DSKAV_GUI=OFF -DSKAV_WERROR=$werror -DSKAV_LINE_INFO=$line_info >/dev/null
  cmake --build "$build" -j"$(nproc)"
fi
[ "$do_test" = 1 ] || exit 0

# LeakSanitizer needs to stop the process's threads with ptrace; where it cannot, it aborts
# every program. Try it once on a test binary and go without leak checks if it fails.
leaks=1
probe=$(ASAN_OPTIONS=detect_leaks=1 "$build/tests/skav_tests" --gtest_list_tests 2>&1 >/dev/null \
  || true)
if grep -q "LeakSanitizer has encountered a fatal error" <<<"$probe"; then
  echo "LeakSanitizer cannot run here; leak checks are off"
  leaks=0
fi
asan="detect_leaks=$leaks:abort_on_error=1:strict_string_checks=1"
asan+=":detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export ASAN_OPTIONS=$asan
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# Two tests measure the process itself and hold only for the normal build, which runs them:
# - Soak samples the station's resident memory and open descriptors over a shift; under the
#   sanitizers both include the runtime's own (freed memory waits in a 256 MiB quarantine, the
#   leak scan at exit opens files of its own). LeakSanitizer checks every skav run for leaks.
# - CrashSafety kills the station from 100 ms after its start on, expecting it to have stored
#   its first address by then; a sanitized program takes longer than that to start.
skip='^(Soak|CrashSafety)\.'

cd "$build"
ctest --output-on-failure -j"$(nproc)" -E "$skip"

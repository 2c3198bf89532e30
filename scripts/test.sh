#!/usr/bin/env bash
# Builds SKAV and runs every test. Integration tests that need a private network namespace
# skip with a message when not run as root. Then the same suite runs again under the address
# and undefined-behaviour sanitizers (scripts/sanitize.sh, without the Qt window, whose tests
# run here), and every fuzz target runs briefly (scripts/fuzz.sh; SKAV_FUZZ_SECONDS each,
# default 5 here). The Windows programs are cross-built and their tests run under Wine
# (scripts/test-windows.sh). SKAV_TEST_WINDOWS=0, SKAV_TEST_SANITIZE=0 or SKAV_TEST_FUZZ=0
# leave a step out.
#
# Two lanes on two cores: the test suites leave a core idle much of the time (serial
# integration tests, Wine, waits for a server or a child), so the later builds run at low
# priority beside a suite: the Windows cross-build (the longest) and then the fuzz targets'
# build beside the suite, the sanitizer build beside the Windows tests, and fuzzing (at the
# suite's priority) beside the sanitizer suite. Their output is kept and shown whole when they end. A failed step fails
# the command; the steps that do not depend on it still run. At the end each step's wall and
# CPU time.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${SKAV_BUILD_DIR:-$root/build}
logs=$(mktemp -d "${TMPDIR:-/tmp}/skav-test.XXXXXX")
trap 'rm -rf "$logs"' EXIT

failed=()
times_table=()

# Runs a step in a subshell, its output where the caller sends it; leaves "<status> <wall s>"
# in $logs/<key>.result and the subshell's `times` (its children's CPU time on the second
# line) in $logs/<key>.times.
timed() {
  local key=$1
  shift
  (
    set +e
    start=$(date +%s)
    "$@"
    status=$?
    echo "$status $(($(date +%s) - start))" >"$logs/$key.result"
    times >"$logs/$key.times"
    exit "$status"
  )
}

# Notes a finished step's figures; false if it failed.
note() {
  local key=$1 name=$2 status wall cpu
  read -r status wall <"$logs/$key.result"
  # "0m12.340s 0m1.200s": user and system time.
  cpu=$(tail -n 1 "$logs/$key.times" | awk '{
    for (i = 1; i <= 2; i++) { split($i, p, "m"); sub("s", "", p[2]); t[i] = p[1] * 60 + p[2] }
    printf "%.0f + %.0f s", t[1], t[2] }')
  times_table+=("$(printf '%-30s %5s s   CPU %s' "$name" "$wall" "$cpu")")
  if [ "$status" -ne 0 ]; then
    failed+=("$name")
    return 1
  fi
}

# A step in the foreground, its output as it comes.
run_step() {
  local key=$1 name=$2
  shift 2
  echo "== $name"
  timed "$key" "$@" || true
  note "$key" "$name"
}

# Steps beside the next foreground step, one after another in the background at low priority
# so that the tests keep their pace; each step's output is kept and shown whole when the lane
# is finished. The steps are functions named step_<key>.
# lane_nice=N before the call sets another priority.
bg_pid=
start_background() {
  local key
  (
    renice -n "${lane_nice:-10}" -p "$BASHPID" >/dev/null
    for key in "$@"; do
      timed "$key" "step_$key" >"$logs/$key.log" 2>&1 || true
    done
  ) &
  bg_pid=$!
}
# Takes pairs of key and name; leaves in $built the keys that succeeded.
built=" "
finish_background() {
  local key name
  wait "$bg_pid" || true
  bg_pid=
  while [ $# -gt 0 ]; do
    key=$1 name=$2
    shift 2
    [ -f "$logs/$key.result" ] || continue
    echo "== $name (ran beside the step before)"
    cat "$logs/$key.log"
    if note "$key" "$name"; then built+="$key "; fi
  done
  return 0
}
done_ok() { [[ "$built" == *" $1 "* ]]; }

step_windows-build() { "$here/build-windows.sh"; }
step_sanitize-build() { "$here/sanitize.sh" --build-only; }
step_fuzz-build() { "$here/fuzz.sh" --build-only; }
# Beside the sanitizer suite, one target at a time: the suite keeps a core.
step_fuzz() {
  SKAV_FUZZ_SECONDS="${SKAV_FUZZ_SECONDS:-5}" SKAV_FUZZ_JOBS=${SKAV_FUZZ_JOBS:-1} \
    "$here/fuzz.sh" --no-build
}

suite() {
  cd "$build" && ctest --output-on-failure -j"$(nproc)" | tee "$build/ctest-summary.log"
}

run_step build "Build" "$here/setup.sh" || { echo "== The build failed"; exit 1; }

windows=${SKAV_TEST_WINDOWS:-1}
sanitize=${SKAV_TEST_SANITIZE:-1}
fuzz=${SKAV_TEST_FUZZ:-1}

# The critical path: the Linux build, the suite, the Windows tests, the sanitizer suite. The
# Windows build (the longest) and the fuzz targets' build run beside the suite, the sanitizer
# build beside the Windows tests, fuzzing (one target at a time) beside the sanitizer suite,
# whose serial tests leave a core idle.
beside_suite=()
[ "$windows" != 0 ] && beside_suite+=(windows-build)
[ "$fuzz" != 0 ] && beside_suite+=(fuzz-build)
if [ ${#beside_suite[@]} -gt 0 ]; then start_background "${beside_suite[@]}"; fi
run_step suite "Suite" suite || true
summary=$(grep -E '^[0-9]+% tests passed' "$build/ctest-summary.log" | tail -n 1 || true)
if [ ${#beside_suite[@]} -gt 0 ]; then
  finish_background windows-build "Windows build" fuzz-build "Fuzz targets' build"
fi

if [ "$sanitize" != 0 ]; then start_background sanitize-build; fi
if done_ok windows-build; then
  run_step windows-tests "Windows tests under Wine" \
    env SKAV_BUILD_DIR="$build" SKAV_WINDOWS_NO_BUILD=1 "$here/test-windows.sh" || true
fi
if [ "$sanitize" != 0 ]; then finish_background sanitize-build "Sanitizer build"; fi

# Fuzzing at the suite's own priority: its targets run for a time, not a number of inputs, and
# at low priority the sanitizer suite left them a tenth of the inputs.
if done_ok fuzz-build && done_ok sanitize-build; then lane_nice=0 start_background fuzz; fi
if done_ok sanitize-build; then
  run_step sanitize-suite "Suite under the sanitizers" "$here/sanitize.sh" --no-build || true
  if done_ok fuzz-build; then finish_background fuzz "Fuzzing"; fi
elif done_ok fuzz-build; then
  run_step fuzz "Fuzzing" env SKAV_FUZZ_SECONDS="${SKAV_FUZZ_SECONDS:-5}" \
    "$here/fuzz.sh" --no-build || true
fi

echo "== Done in $SECONDS s (wall; CPU user + sys):"
printf '%s\n' "${times_table[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: $(IFS=,; echo "${failed[*]}" | sed 's/,/, /g')"
  [ -n "$summary" ] && echo "$summary"
  exit 1
fi
echo "$summary"

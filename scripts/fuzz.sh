#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ (or $SKAV_FUZZ_BUILD_DIR) and runs
# each for SKAV_FUZZ_SECONDS (default 20) over a copy of its seed corpus in fuzz/corpus/, so the
# repository is never written. Targets run side by side, one per core. Fails on any finding;
# the input that caused it is kept in <build>/findings/ and printed in hex.
# Usage: scripts/fuzz.sh [--build-only | --no-build] [target...]   (default: every
# fuzz/*_fuzzer.cpp; --build-only stops after the build, --no-build runs targets built before)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${SKAV_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${SKAV_FUZZ_SECONDS:-20}
jobs=${SKAV_FUZZ_JOBS:-$(nproc)}
do_build=1
do_run=1
case "${1:-}" in
  --build-only) do_run=0; shift ;;
  --no-build) do_build=0; shift ;;
esac

if [ $# -gt 0 ]; then
  targets=("$@")
  build_targets=("$@")
else
  targets=()
  for f in "$root"/fuzz/*_fuzzer.cpp; do targets+=("$(basename "$f" .cpp)"); done
  build_targets=(skav_fuzzers)
fi

werror=OFF
line_info=OFF
[ -n "${CI:-}" ] && werror=ON line_info=ON
generator=()
[ -f "$build/CMakeCache.txt" ] || generator=(-G "${SKAV_GENERATOR:-${CMAKE_GENERATOR:-Ninja}}")
if [ "$do_build" = 1 ]; then
  CC=clang CXX=clang++ cmake "${generator[@]}" -S "$root" -B "$build" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSKAV_FUZZ=ON -DSKAV_GUI=OFF -DBUILD_TESTING=OFF \
    -DSKAV_WERROR=$werror -DSKAV_LINE_INFO=$line_info >/dev/null
  cmake --build "$build" -j"$(nproc)" --target "${build_targets[@]}"
fi
[ "$do_run" = 1 ] || exit 0

# Corpus copies and the targets' scratch files live in memory where possible: the settings
# target syncs a file for every input.
base=${TMPDIR:-/tmp}
[ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
work=$(mktemp -d "$base/skav-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tmp"
findings="$build/findings"
mkdir -p "$findings"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# Longest input per target: frame targets take many frames, file targets a few kilobytes.
max_len() {
  case "$1" in
    block_receive_fuzzer|console_relay_fuzzer) echo 32768 ;;
    *) echo 8192 ;;
  esac
}

run_one() {
  local t=$1
  local corpus="$work/corpus-$t"
  mkdir -p "$corpus" "$work/artifacts-$t"
  [ -d "$root/fuzz/corpus/$t" ] && cp -r "$root/fuzz/corpus/$t/." "$corpus/"
  local dict=()
  [ -f "$root/fuzz/dict/$t.dict" ] && dict=(-dict="$root/fuzz/dict/$t.dict")
  TMPDIR="$work/tmp" "$build/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len="$(max_len "$t")" -print_final_stats=1 "${dict[@]}" \
    -artifact_prefix="$work/artifacts-$t/" "$corpus" >"$work/$t.log" 2>&1
}

report() {
  local t=$1 status=$2
  local runs
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/$t.log" | grep -o '[0-9]*$' \
    || true)
  if [ "$status" -eq 0 ]; then
    echo "fuzz $t: ok, ${runs:-?} inputs in ${seconds}s"
    return 0
  fi
  echo "fuzz $t: FAILED (exit $status)"
  tail -n 60 "$work/$t.log"
  local found
  for found in "$work/artifacts-$t"/*; do
    [ -f "$found" ] || continue
    cp "$found" "$findings/$t-$(basename "$found")"
    echo "input kept in $findings/$t-$(basename "$found"):"
    od -A x -t x1z -v "$found" | head -n 64
  done
  return 1
}

declare -A pids=()
failed=0
wait_one() {
  local pid status t
  wait -n -p pid && status=0 || status=$?
  t=${pids[$pid]}
  unset "pids[$pid]"
  report "$t" "$status" || failed=1
}
for t in "${targets[@]}"; do
  [ -x "$build/fuzz/$t" ] || { echo "no fuzz target $t"; exit 1; }
  while [ ${#pids[@]} -ge "$jobs" ]; do wait_one; done
  run_one "$t" &
  pids[$!]=$t
done
while [ ${#pids[@]} -gt 0 ]; do wait_one; done

if [ "$failed" -ne 0 ]; then
  echo "fuzzing found a fault"
  exit 1
fi
echo "fuzzing: ${#targets[@]} targets, no findings"

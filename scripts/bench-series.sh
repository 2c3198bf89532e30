#!/usr/bin/env bash
# A series of benchmark runs for docs/performance.md: builds skav (Release) into build-release/,
# then runs `skav bench` five times in a row with a 16 MB and with a 64 MiB image, printing every
# run whole, after the machine (cores, CPU model, load), the build type and the date.
# `skav bench` makes its veth pairs in a private network namespace, which needs root: the
# series runs it through sudo when not root (without root it measures the in-process link only).
# Options through the environment: SKAV_BENCH_RUNS (5), SKAV_BENCH_REPEATS (bench's default),
# SKAV_BENCH_SIZES (bytes, "16000000 67108860"), SKAV_BENCH_BUILD_DIR (build-release).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${SKAV_BENCH_BUILD_DIR:-$root/build-release}
runs=${SKAV_BENCH_RUNS:-5}
sizes=${SKAV_BENCH_SIZES:-"16000000 67108860"}
build_type=Release

# Only skav is built (the packages it needs: scripts/setup.sh installs them).
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=$build_type -DSKAV_GUI=OFF >/dev/null
cmake --build "$build" --target skav -j2 >/dev/null
skav="$build/skav"

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    as_root=(sudo -n)
  else
    echo "note: not root and no sudo: the veth and modelled-wire setups are skipped" >&2
  fi
fi

repeats=()
[ -n "${SKAV_BENCH_REPEATS:-}" ] && repeats=(--repeats "$SKAV_BENCH_REPEATS")

echo "== skav bench series"
echo "date:       $(date -u '+%Y-%m-%d %H:%M:%S UTC')"
echo "commit:     $(git -C "$root" describe --always --dirty 2>/dev/null || echo unknown)"
echo "build:      $build_type ($build)"
echo "machine:    $(nproc) cores, $(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
echo "kernel:     $(uname -r)"
echo "load:       $(uptime)"
for size in $sizes; do
  for run in $(seq 1 "$runs"); do
    echo
    echo "-- image of $size bytes, run $run of $runs ($(date -u '+%H:%M:%S'), load: $(cut -d' ' -f1-3 /proc/loadavg))"
    "${as_root[@]}" "$skav" bench --size "$size" "${repeats[@]}" || echo "(skav bench exited with $?)"
  done
done
echo
echo "load at the end: $(uptime)"

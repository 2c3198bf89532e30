#!/usr/bin/env bash
# A long shift in little time: `skav run` programs N simulated boards (default 1000) in a row with
# tiny images, while its resident memory (VmRSS) and open file descriptors are sampled. Checks at
# the end: memory and descriptors do not grow, every board got the next address (the records'
# written MACs are consecutive, so none twice), and the records file has N lines after its header.
#
#   scripts/soak.sh [N]       SKAV_BINARY=path/to/skav (default build/skav)
#   SOAK_TICK_MS=10           Station Cycle period for the run (100 is the real station's)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
boards=${1:-1000}
skav=${SKAV_BINARY:-$root/build/skav}
tick_ms=${SOAK_TICK_MS:-10}
# Memory may grow by this much between the first and the last tenth of the run. Two things grow
# legitimately: the C library's allocator settles its per-thread arenas during the first boards,
# and the simulated line in the same process keeps a 52-byte summary of every finished board
# (a vector: about 100 KiB at N = 1000, counting its reallocation). A leak of even 1 KiB per
# board in the station is 900 KiB over the nine tenths between the two (at N = 1000).
rss_tolerance_kib=${SOAK_RSS_TOLERANCE_KIB:-512}

[ -x "$skav" ] || { echo "soak: no skav program at $skav (set SKAV_BINARY)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cp -r "$root/examples/." "$work/"
# Tiny images: the shift's length, not the transfer, is under test.
head -c 3000 /dev/urandom >"$work/images/kernel.bin"
head -c 1500 /dev/urandom >"$work/images/uboot.bin"
head -c 100 /dev/urandom >"$work/images/rootfs.bin"
printf 'Board self test\r\nAll tests passed\r\n' >"$work/images/diag.txt"

start=$(date +%s.%N)
"$skav" run --simulate="$boards" --boards "$boards" --no-barcode --mac 020000000000 \
  --settings "$work/settings.reg" -C "$work" --timeout 10 --tick-ms "$tick_ms" \
  </dev/null >"$work/out.log" 2>"$work/err.log" &
pid=$!

# Sampling starts once the first board has its record: before then the station is still opening
# what it keeps open for the shift (the pool's holder file, the records file), which would count
# as descriptors gained.
while kill -0 "$pid" 2>/dev/null && [ "$(wc -l <"$work/skav-records.csv" 2>/dev/null || echo 0)" -lt 2 ]; do
  sleep 0.05
done
# One sample every 0.2 s: VmRSS in KiB and the number of open descriptors.
: >"$work/samples"
while kill -0 "$pid" 2>/dev/null; do
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
  fds=$(ls "/proc/$pid/fd" 2>/dev/null | wc -l || true)
  [ -n "$rss" ] && [ "$fds" -gt 0 ] && echo "$rss $fds" >>"$work/samples"
  sleep 0.2
done
status=0
wait "$pid" || status=$?
end=$(date +%s.%N)

fail=0
if [ "$status" -ne 0 ]; then
  echo "soak: skav run ended with status $status" >&2
  tail -20 "$work/out.log" "$work/err.log" >&2
  fail=1
fi

records="$work/skav-records.csv"
lines=$(($(wc -l <"$records") - 1))
if [ "$lines" -ne "$boards" ]; then
  echo "soak: $lines records for $boards boards" >&2
  fail=1
fi
# Written MACs (field 4, 02:00:00:00:00:00 first) must count up by one, board after board.
want=$((16#020000000000))
number=0
while IFS=, read -r _ _ _ written _ _ _ _ _ verdict _; do
  number=$((number + 1))
  if [ "$((16#${written//:/}))" -ne "$want" ] || [ "$verdict" != pass ]; then
    echo "soak: record $number has written MAC $written and verdict $verdict" >&2
    fail=1
    break
  fi
  want=$((want + 1))
done < <(tail -n +2 "$records")

samples=$(wc -l <"$work/samples")
if [ "$samples" -lt 10 ]; then
  echo "soak: only $samples samples; run more boards for a memory check" >&2
  tenth=1
else
  tenth=$((samples / 10))
fi
read -r rss_first _ < <(head -n "$tenth" "$work/samples" | sort -n | tail -1)
read -r rss_last _ < <(tail -n "$tenth" "$work/samples" | sort -n | tail -1)
# Descriptors by the fewest open: a leak raises that floor, while a sample taken when a run had
# its image, record or settings file open only raises the most.
fds_first=$(head -n "$tenth" "$work/samples" | awk '{print $2}' | sort -n | head -1)
fds_last=$(tail -n "$tenth" "$work/samples" | awk '{print $2}' | sort -n | head -1)
seconds=$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.1f", b - a}')
echo "soak: $boards boards in $seconds s (tick $tick_ms ms), $samples samples"
echo "soak: VmRSS max first tenth $rss_first KiB, last tenth $rss_last KiB"
echo "soak: open fds fewest first tenth $fds_first, last tenth $fds_last"
if [ "$rss_last" -gt $((rss_first + rss_tolerance_kib)) ]; then
  echo "soak: memory grew by more than $rss_tolerance_kib KiB" >&2
  fail=1
fi
if [ "$fds_last" -gt $((fds_first + 1)) ]; then
  echo "soak: open descriptors grew" >&2
  fail=1
fi
[ "$fail" -eq 0 ] && echo "soak: ok"
exit "$fail"

#!/usr/bin/env bash
# Times brivane over a 1 GiB tape of realistic content against merely reading
# the file with dd, interleaved, and prints medians, ratios and peak RSS.
#
#   bench/run_tape_bench.sh [BUILD_DIR] [OTHER_BRIVANE ...]
#
# BUILD_DIR is a release build configured with -DBRIVANE_BENCH=ON (default
# build-rel; it is built if missing). Each OTHER_BRIVANE is timed in the same
# rounds, to compare with an earlier build or other build flags. RUNS (default 7) and
# SIZE_MIB (default 1024) can be set in the environment. The tape is kept in
# ${TMPDIR:-/tmp} and reused.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-rel}
others=("${@:2}")
runs=${RUNS:-7}
size=${SIZE_MIB:-1024}
tmp=${TMPDIR:-/tmp}

if [ ! -x "$build/brivane" ] || [ ! -x "$build/bench/make_bench_tape" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBRIVANE_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$build" -j2 --target brivane make_bench_tape >/dev/null
fi
bin=$build/brivane
tape=$tmp/brivane-bench-${size}m.tap
small=$tmp/brivane-bench-1m.tap
if [ ! -f "$tape" ] || [ ! -f "$tape.expected" ]; then
  echo "making $tape"
  "$build/bench/make_bench_tape" "$size" "$tape" "$tape.expected"
fi
[ -f "$small" ] || "$build/bench/make_bench_tape" 1 "$small" "$small.expected"

echo "checking the output of -a on $(basename "$tape")"
for b in "$bin" "${others[@]}"; do
  if ! "$b" -a "$tape" | cmp -s - "$tape.expected"; then
    echo "FAIL: $b -a gives other names than the tape holds" >&2
    exit 1
  fi
done
"$bin" "$tape" | cmp -s - <(head -n 2 "$tape.expected" | sed 's/FOUND (001)/FOUND/') ||
  { echo "FAIL: default mode gives another first name" >&2; exit 1; }
echo "$(grep -c FOUND "$tape.expected") names, $(stat -c %s "$tape") bytes"

cat "$tape" >/dev/null  # warm the page cache

source bench/timing.sh
for ((r = 0; r < runs; r++)); do
  timed dd dd if="$tape" of=/dev/null bs=1M
  timed all "$bin" -a "$tape"
  timed first "$bin" "$tape"
  for k in "${!others[@]}"; do timed "other$k" "${others[$k]}" -a "$tape"; done
done

dd_us=$(echo "${times[dd]}" | median)
printf '%-28s %10s %8s\n' "median of $runs runs" "ms" "x dd"
keys=(dd all first)
for k in "${!others[@]}"; do keys+=("other$k"); done
for k in "${keys[@]}"; do
  us=$(echo "${times[$k]}" | median)
  case $k in
    dd) label="dd bs=1M" ;;
    all) label="brivane -a" ;;
    first) label="brivane (first name)" ;;
    other*) label="${others[${k#other}]} -a" ;;
  esac
  awk -v l="$label" -v us="$us" -v dd="$dd_us" 'BEGIN {printf "%-28s %10.1f %8.3f\n", l, us / 1000, us / dd}'
done

rss() { /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident/ {print $2}'; }
echo "peak RSS, brivane -a, ${size} MiB tape: $(rss "$bin" -a "$tape") KiB"
echo "peak RSS, brivane -a, 1 MiB tape:    $(rss "$bin" -a "$small") KiB"

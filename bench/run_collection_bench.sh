#!/usr/bin/env bash
# Catalogues a generated collection of 2,000 tapes with the README's command
# lines, serially and over all cores, against reading the same files with cat,
# and prints medians, tapes per second and the ratios.
#
#   bench/run_collection_bench.sh [BUILD_DIR]
#
# BUILD_DIR is a release build (default build-rel; built if missing). RUNS
# (default 5) and COUNT (default 2000) can be set in the environment. The
# collection is kept in ${TMPDIR:-/tmp}/brivane-collection and reused.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-rel}
runs=${RUNS:-5}
count=${COUNT:-2000}
tmp=${TMPDIR:-/tmp}
tapes=$tmp/brivane-collection

if [ ! -x "$build/brivane" ] || [ ! -x "$build/tape_writer/make_collection" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$build" -j2 --target brivane make_collection >/dev/null
if [ ! -f "$tapes.expected" ] || [ "$(ls -R "$tapes" | grep -ci '\.tap$')" != "$count" ]; then
  rm -rf "$tapes" && mkdir -p "$tapes"
  echo "making $count tapes in $tapes"
  "$build/tape_writer/make_collection" "$count" "$tapes" "$tapes.expected" 8
fi
work=$(mktemp -d "$tmp/brivane-collection-run.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
ln -s "$PWD/$build/brivane" "$work/bin/brivane"
tests/readme_commands.sh README.md "$work" "$tapes"
export PATH="$work/bin:$PATH"

LC_ALL=C sort "$tapes.expected" >"$work/expected"
for c in serial:"$work/command1" parallel:"$work/command2"; do
  sh "${c#*:}" | LC_ALL=C sort | cmp -s - "$work/expected" || { echo "FAIL: the ${c%%:*} catalogue differs" >&2; exit 1; }
done
bytes=$(find "$tapes" -type f -iname '*.tap' -print0 | du -cb --files0-from=- | tail -n 1 | cut -f 1)
sizes=$(find "$tapes" -type f -iname '*.tap' -printf '%s\n' | sort -n | sed -n '1p;$p' | awk '{printf "%.2f ", $1 / 1048576}')
echo "$count tapes, $((bytes / 1048576)) MiB, $(sed 's/ / to /' <<<"$sizes")MiB each; catalogue checked"

find "$tapes" -type f -print0 | xargs -0 cat >/dev/null  # warm the page cache
source bench/timing.sh
for ((r = 0; r < runs; r++)); do
  timed cat sh -c 'find "$1" -type f -iname "*.tap" -print0 | xargs -0 cat' sh "$tapes"
  timed serial sh "$work/command1"
  timed parallel sh "$work/command2"
done
cat_us=$(echo "${times[cat]}" | median)
printf '| %-38s | %8s | %10s | %8s |\n' "median of $runs runs, $(nproc) cores" "s" "tapes/s" "x cat"
for k in cat serial parallel; do
  us=$(echo "${times[$k]}" | median)
  case $k in
    cat) label='`cat` of every tape' ;;
    serial) label='catalogue, one tape at a time' ;;
    parallel) label="catalogue, \`-P \$(nproc)\`" ;;
  esac
  awk -v l="$label" -v us="$us" -v c="$cat_us" -v n="$count" \
    'BEGIN {printf "| %-38s | %8.2f | %10.0f | %8.2f |\n", l, us / 1e6, n / (us / 1e6), us / c}'
done

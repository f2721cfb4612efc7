#!/usr/bin/env bash
# brivane-ls on whole collections: the page's benchmark zip of 1,000 tapes,
# a 1 GiB tape against reading it with dd (page cache warm; and cold, where
# this user may drop the caches), and peak memory for a 4 GiB tape (made as
# it is read, through a pipe) and a zip of 100,000 tapes. Medians of RUNS
# (default 5); the files are kept in ${TMPDIR:-/tmp} and reused.
#
#   bench/ls_bench.sh [BUILD_DIR]     (a release build; default build-rel, made if missing)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-rel}
runs=${RUNS:-5}
tmp=${TMPDIR:-/tmp}

if [ ! -x "$build/brivane-ls" ] || [ ! -x "$build/bench/make_bench_tape" ] || [ ! -x "$build/tape_writer/write_tape" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBRIVANE_BENCH=ON -DBUILD_TESTING=ON >/dev/null
fi
cmake --build "$build" -j2 --target brivane-ls make_bench_tape make_collection write_tape >/dev/null
ls=$build/brivane-ls
zip=$(python3 -c "import sys; sys.path.insert(0, 'tests/web'); import browser; print(browser.collection_zip('$build/tape_writer/make_collection', 1000, 3))")
tape=$tmp/brivane-bench-1024m.tap
[ -f "$tape" ] || "$build/bench/make_bench_tape" 1024 "$tape" "$tape.expected"
many=$tmp/brivane-100000-tapes.zip
if [ ! -f "$many" ]; then
  python3 - "$build/tape_writer/write_tape" "$many" <<'EOF'
import subprocess, sys, zipfile
tape = subprocess.run([sys.argv[1], "file", "TINY"], capture_output=True, check=True).stdout
with zipfile.ZipFile(sys.argv[2] + ".part", "w", zipfile.ZIP_DEFLATED) as z:
    for n in range(100000):
        z.writestr("tapes/%06d.tap" % n, tape)
EOF
  mv "$many.part" "$many"
fi

# Seconds and peak KiB of a command, as "s kib", its output thrown away.
measure() { /usr/bin/time -f '%e %M' "$@" 2>&1 >/dev/null | tail -n 1; }
median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
drop_caches() { sync && echo 3 >/proc/sys/vm/drop_caches 2>/dev/null; }

echo "the 1,000-tape zip ($(du -m "$zip" | cut -f 1) MiB), $(nproc) cores:"
for _ in $(seq "$runs"); do measure "$ls" --csv "$zip"; done >"$tmp/ls-zip.txt"
printf '  brivane-ls --csv: %s s, peak %s KiB\n' "$(cut -d' ' -f1 "$tmp/ls-zip.txt" | median)" \
  "$(cut -d' ' -f2 "$tmp/ls-zip.txt" | sort -n | tail -n 1)"

echo "the 1 GiB tape:"
for _ in $(seq "$runs"); do
  measure dd if="$tape" of=/dev/null bs=1M | cut -d' ' -f1 >>"$tmp/ls-dd.txt"
  measure "$ls" "$tape" | cut -d' ' -f1 >>"$tmp/ls-tape.txt"
done
dd_s=$(median <"$tmp/ls-dd.txt") ls_s=$(median <"$tmp/ls-tape.txt")
echo "  page cache warm: dd bs=1M $dd_s s, brivane-ls $ls_s s ($(awk -v a="$ls_s" -v b="$dd_s" 'BEGIN {printf "%.2f", a / b}') times dd)"
if drop_caches; then
  for _ in $(seq "$runs"); do
    drop_caches && measure dd if="$tape" of=/dev/null bs=1M | cut -d' ' -f1 >>"$tmp/ls-dd-cold.txt"
    drop_caches && measure "$ls" "$tape" | cut -d' ' -f1 >>"$tmp/ls-tape-cold.txt"
  done
  dd_s=$(median <"$tmp/ls-dd-cold.txt") ls_s=$(median <"$tmp/ls-tape-cold.txt")
  echo "  from the disk, caches dropped: dd bs=1M $dd_s s, brivane-ls $ls_s s ($(awk -v a="$ls_s" -v b="$dd_s" 'BEGIN {printf "%.2f", a / b}') times dd)"
else
  echo "  from the disk: NOT RUN (this user cannot drop the page cache)"
fi
rm -f "$tmp"/ls-*.txt

echo "peak memory:"
kib=$( { /usr/bin/time -f '%M' "$ls" - < <("$build/tape_writer/write_tape" --repeat 95000 file BIG) >/dev/null; } 2>&1 | tail -n 1)
echo "  a 4 GiB tape through a pipe: $kib KiB"
echo "  the zip of 100,000 tapes: $(measure "$ls" "$many" | cut -d' ' -f2) KiB"

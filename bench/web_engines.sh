#!/usr/bin/env bash
# Times the one-file page in Chromium, Firefox ESR and WebKitGTK, over http,
# on a 256 MiB generated tape and a zip of 1,000 deflated tapes, each with
# "all names" ticked, against an earlier build of the page, side by side in
# one run, and against each engine's own floor (bench/web_side_by_side.py).
# Needs the native release build, the page's build and the earlier page's:
#   cmake -S . -B build-rel -DBRIVANE_BENCH=ON -DBUILD_TESTING=OFF && cmake --build build-rel -j2
#   cmake -S . -B build -DBUILD_TESTING=OFF && cmake --build build --target make_collection
#   git worktree add /tmp/before 59283db && (cd /tmp/before && npm ci && emcmake cmake -S . -B build-web && cmake --build build-web)
#   bench/web_engines.sh /tmp/before/build-web/web
# RUNS (default 3) runs of each page, the best taken. The page alone, with
# its memory, in one engine: bench/web_bench.py and bench/web_zip_bench.py.
set -euo pipefail
cd "$(dirname "$0")/.."
before=${1:?usage: bench/web_engines.sh BEFORE_PAGE_DIR}
tmp=${TMPDIR:-/tmp}
tape=$tmp/brivane-bench-256m.tap
[ -f "$tape" ] || build-rel/bench/make_bench_tape 256 "$tape" "$tape.expected"
archive=$(/usr/bin/python3 -c 'import sys; sys.path.insert(0, "tests/web"); import browser; print(browser.collection_zip(sys.argv[1], 1000, 3))' build/tape_writer/make_collection)
for engine in chromium firefox webkit; do
  run=(/usr/bin/python3)
  [ "$engine" = webkit ] && run=(xvfb-run -a /usr/bin/python3)
  "${run[@]}" bench/web_side_by_side.py "$engine" "$before" build-web/web "$tape" "$archive" | tail -n +$([ "$engine" = chromium ] && echo 1 || echo 2)
done

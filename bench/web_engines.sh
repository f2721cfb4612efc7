#!/usr/bin/env bash
# Times the one-file page in Chromium, Firefox ESR and WebKitGTK, over http:
# a 256 MiB generated tape and a zip of 1,000 deflated tapes, each with "all
# names" ticked (bench/web_bench.py, bench/web_zip_bench.py). Needs the
# native release build and the page's build:
#   cmake -S . -B build-rel -DBRIVANE_BENCH=ON -DBUILD_TESTING=OFF && cmake --build build-rel -j2
#   cmake -S . -B build -DBUILD_TESTING=OFF && cmake --build build --target make_collection
#   bench/web_engines.sh
set -euo pipefail
cd "$(dirname "$0")/.."
for engine in chromium firefox webkit; do
  run=(/usr/bin/python3)
  [ "$engine" = webkit ] && run=(xvfb-run -a /usr/bin/python3)
  "${run[@]}" bench/web_bench.py "$engine" build-web/web build-rel/brivane build-rel/bench/make_bench_tape 256
  "${run[@]}" bench/web_zip_bench.py "$engine" build-web/web build-rel/brivane build/tape_writer/make_collection
done

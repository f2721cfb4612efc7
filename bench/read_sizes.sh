#!/usr/bin/env bash
# Chooses the read size by measuring: builds the program once for each size
# of read, then times them all over the same 1 GiB tape, interleaved, against
# dd bs=1M (bench/run_tape_bench.sh).
#
#   bench/read_sizes.sh [KIB ...]     (default: 256 512 1024 2048 4096)
#
# RUNS and SIZE_MIB are passed on to run_tape_bench.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=("$@")
[ "${#sizes[@]}" -gt 0 ] || sizes=(256 512 1024 2048 4096)
cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release -DBRIVANE_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-rel -j2 --target brivane make_bench_tape >/dev/null
variants=()
for kib in "${sizes[@]}"; do
  dir=build-read-$kib
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_CXX_FLAGS="-DBRIVANE_READ_BLOCK_KIB=$kib" >/dev/null
  cmake --build "$dir" -j2 --target brivane >/dev/null
  variants+=("$dir/brivane")
done
bench/run_tape_bench.sh build-rel "${variants[@]}"

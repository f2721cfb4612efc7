#!/usr/bin/env bash
# Tapes too big for the test suite, through the sanitizer build: a tape over
# 4 GiB made by repeating one file, and a pilot of more than 2^31 short
# pulses followed by a header. Needs about 7 GB in ${TMPDIR:-/tmp}; not run by CI.
#
#   tests/big_input.sh [BUILD_DIR]    (default build-asan; built if missing)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-asan}
tmp=$(mktemp -d "${TMPDIR:-/tmp}/brivane-big.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

if [ ! -x "$build/brivane" ] || [ ! -x "$build/tape_writer/write_tape" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DBRIVANE_SANITIZE=ON -DBUILD_TESTING=ON >/dev/null
  cmake --build "$build" -j2 --target brivane write_tape >/dev/null
fi
bin=$build/brivane
write=$build/tape_writer/write_tape
fail=0
check() {  # what, expected output, command...
  local what=$1 want=$2; shift 2
  local got
  got=$("$@") || { echo "FAIL $what: status $?"; fail=1; return; }
  if [ "$got" = "$want" ]; then echo "ok   $what"; else echo "FAIL $what: got '${got:0:200}'"; fail=1; fi
}

one=$("$write" file BIG | wc -c)
copies=$(( (4 * 1024 * 1024 * 1024) / one + 2000 ))
"$write" --repeat "$copies" file BIG >"$tmp/big.tap"
echo "big.tap: $(stat -c %s "$tmp/big.tap") bytes, $copies files"
check "first name of a tape over 4 GiB" $'Brivane, rel 1.1\nFOUND: "BIG"' "$bin" "$tmp/big.tap"
check "count of names on a tape over 4 GiB" "$copies" bash -c "'$bin' -a '$tmp/big.tap' | grep -c '^FOUND ([0-9]*): \"BIG\"$'"
check "last name on a tape over 4 GiB" "FOUND ($copies): \"BIG\"" bash -c "'$bin' -a '$tmp/big.tap' | tail -n 1"
rm "$tmp/big.tap"

{ "$write" pilot 2200000000; "$write" header AFTER; } >"$tmp/long-pilot.tap"
echo "long-pilot.tap: $(stat -c %s "$tmp/long-pilot.tap") bytes"
check "header after 2.2e9 short pulses" $'Brivane, rel 1.1\nFOUND (001): "AFTER"' "$bin" -a "$tmp/long-pilot.tap"

exit $fail

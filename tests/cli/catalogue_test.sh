#!/bin/sh
# The README's catalogue command lines, run as they stand over a generated
# collection of tapes with odd file names: every name of every tape comes out
# once, as file<TAB>number<TAB>name, and no line is cut into by another's when
# the tapes are read in parallel; and without brivane to run, each stops at
# once with a message and a failing status.
#   catalogue_test.sh BRIVANE MAKE_COLLECTION README
set -eu
bin=$1
make_collection=$2
readme=$3
tmp=$(mktemp -d "${TMPDIR:-/tmp}/brivane-catalogue.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/bin" "$tmp/tapes"
ln -s "$(cd "$(dirname "$bin")" && pwd)/$(basename "$bin")" "$tmp/bin/brivane"
"$make_collection" 300 "$tmp/tapes" "$tmp/expected" 2
LC_ALL=C sort "$tmp/expected" >"$tmp/expected.sorted"

"$(dirname "$0")/../readme_commands.sh" "$readme" "$tmp" "$tmp/tapes"
set -- "$tmp"/command*
[ "$#" -ge 2 ] && [ -f "$1" ] || { echo "want the serial and the parallel catalogue command in the README"; exit 1; }

fail=0
for c in "$@"; do
  (cd "$tmp" && PATH="$tmp/bin:$PATH" sh "$c") >"$tmp/got"
  if LC_ALL=C sort "$tmp/got" | cmp -s - "$tmp/expected.sorted"; then
    echo "ok   $(wc -l <"$tmp/got") lines from: $(head -c 80 "$c")..."
  else
    echo "FAIL:"; cat "$c"
    LC_ALL=C sort "$tmp/got" | diff - "$tmp/expected.sorted" | head -n 10
    fail=1
  fi
done
# Without brivane on PATH, a recipe stops at once and fails, saying why once.
for c in "$@"; do
  if (cd "$tmp" && PATH=/usr/bin:/bin sh "$c") >"$tmp/got" 2>"$tmp/err"; then
    echo "FAIL: without brivane this recipe succeeded:"; cat "$c"; fail=1
  elif [ "$(grep -c 'brivane is not on PATH' "$tmp/err")" -lt 1 ] || [ -s "$tmp/got" ] ||
       [ "$(grep -c 'not found' "$tmp/err")" -gt 0 ]; then
    echo "FAIL: without brivane this recipe said:"; head -n 5 "$tmp/err"; fail=1
  else
    echo "ok   without brivane, stops: $(head -c 60 "$c")..."
  fi
done
exit $fail

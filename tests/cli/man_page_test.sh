#!/bin/sh
# The manual page renders without warnings, and its options are the ones the
# usage text lists, with the same descriptions; for brivane-tap's, every
# option its --help lists is described.
#   man_page_test.sh BRIVANE MANPAGE           (exit 77: skipped, no man here)
#   man_page_test.sh BRIVANE_TAP MANPAGE tap
set -u
bin=$1
page=$2
command -v man >/dev/null 2>&1 || { echo "man is not installed"; exit 77; }

warnings=$(LC_ALL=C MANWIDTH=250 man --warnings -l "$page" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
  echo "man -l $page warns:"; echo "$warnings"; exit 1
fi

if [ "${3:-}" = tap ]; then
  page_text=$(LC_ALL=C MANWIDTH=250 man -l "$page" 2>/dev/null)
  for option in $("$bin" --help | grep -o -- '--[a-z]*' | sort -u); do
    echo "$page_text" | sed -n '/^OPTIONS/,/^[A-Z]/p' | grep -q -- "^ *$option" ||
      { echo "the manual page does not describe $option"; exit 1; }
  done
  echo "manual page ok: every option of --help described"
  exit 0
fi

# "   -a: text" in the usage; "       -a     text" under OPTIONS in the page.
from_usage=$("$bin" | sed -n 's/^   \(-[a-z]\): \(.*\)$/\1 \2/p' | tr -s ' ')
from_page=$(LC_ALL=C MANWIDTH=250 man -l "$page" 2>/dev/null |
  sed -n '/^OPTIONS/,/^[A-Z]/s/^ *\(-[a-z]\)  *\(.*\)$/\1 \2/p' | tr -s ' ')
if [ -z "$from_usage" ] || [ "$from_usage" != "$from_page" ]; then
  echo "options differ"; echo "usage text:"; echo "$from_usage"; echo "manual page:"; echo "$from_page"
  exit 1
fi
echo "manual page ok: $(echo "$from_page" | wc -l) options"

#!/bin/sh
# brivane-tap on recordings kept as people keep them: the tape writer's
# recording encoded with Debian's encoders (flac, and flac --ogg for Ogg
# FLAC, oggenc, opusenc, lame),
# each giving the names of its tape; and each cut short, giving the names
# before the cut, a message and status 7. An encoder that is missing is
# said NOT RUN.
#   tap_formats_test.sh BRIVANE_TAP BRIVANE WRITE_TAPE
set -u
tap=$1 brivane=$2 write_tape=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
"$write_tape" --repeat 2 recording "SIDE A" >"$tmp/side.wav" || exit 1
want=$(printf 'Brivane, rel 1.1\nFOUND (001): "SIDE A"\nFOUND (002): "SIDE A"')
want_cut=$(printf 'Brivane, rel 1.1\nFOUND (001): "SIDE A"')

check() {  # format, encoder command that writes "$tmp/side.$1"
  format=$1
  shift
  if ! command -v "$1" >/dev/null; then
    echo "NOT RUN: $format: $1 is missing"
    return
  fi
  "$@" >/dev/null 2>&1 || { echo "FAIL: $format: $* failed"; fail=1; return; }
  "$tap" "$tmp/side.$format" "$tmp/side-$format.tap"
  status=$?
  got=$("$brivane" -a "$tmp/side-$format.tap")
  if [ "$status" != 0 ] || [ "$got" != "$want" ]; then
    echo "FAIL: $format: status $status, listed: $got"
    fail=1
  else
    echo "ok   $format"
  fi
  size=$(wc -c <"$tmp/side.$format")
  head -c $((size * 6 / 10)) "$tmp/side.$format" >"$tmp/cut.$format"
  err=$("$tap" "$tmp/cut.$format" "$tmp/cut-$format.tap" 2>&1)
  status=$?
  got=$("$brivane" -a "$tmp/cut-$format.tap")
  # Its own message and nothing else: no decoding library's warning above it.
  said="brivane-tap: $tmp/cut.$format: the recording is cut short or damaged part-way; the TAP file holds what came before"
  if [ "$status" != 7 ] || [ "$got" != "$want_cut" ] || [ "$err" != "$said" ]; then
    echo "FAIL: $format cut short: status $status, said: $err, listed: $got"
    fail=1
  else
    echo "ok   $format cut short"
  fi
}

check wav true  # the recording as the tape writer makes it
check flac flac -s -f -o "$tmp/side.flac" "$tmp/side.wav"
check oga flac -s -f --ogg -o "$tmp/side.oga" "$tmp/side.wav"
check ogg oggenc -Q -o "$tmp/side.ogg" "$tmp/side.wav"
check opus opusenc --quiet "$tmp/side.wav" "$tmp/side.opus"
check mp3 lame --quiet "$tmp/side.wav" "$tmp/side.mp3"
exit $fail

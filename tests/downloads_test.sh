#!/usr/bin/env bash
# The release's downloads as a person unpacks them: each into one folder of
# its own name, holding a README.txt, the license and the example tape; the
# program in each lists the example tape; the npm package installs into an
# empty project, where its listNames gives what the program prints.
#   tests/downloads_test.sh DIST BRIVANE WRITE_TAPE   (a native build's, for the npm check and
#                                                      a recording for brivane-tap)
set -euo pipefail
dist=$(realpath "$1")
bin=$(realpath "$2")
write_tape=$(realpath "$3")
here=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
want='FOUND (004): "  LEAD AND TAIL"'
fail() { echo "FAIL: $*" >&2; exit 1; }

# One folder, named as the file is, holding README.txt, a license and demo.tap.
check_folder() {  # where it was unpacked, expected folder name, license file
  local got
  got=$(ls -A "$1")
  [ "$got" = "$2" ] || fail "$2 unpacks into: $got"
  for f in README.txt "$3" demo.tap; do [ -f "$1/$2/$f" ] || fail "$2 lacks $f"; done
  cmp -s "$1/$2/demo.tap" "$here/examples/demo.tap" || fail "$2's demo.tap is not the example tape"
  [ "$(wc -c <"$1/$2/README.txt")" -lt 6144 ] || fail "$2's README.txt is over 6 KB"
  echo "ok   $2: $(ls "$1/$2" | tr '\n' ' ')"
}

mkdir "$tmp/tar" "$tmp/win" "$tmp/web"
tar -xzf "$dist"/brivane-*-linux-x86_64.tar.gz -C "$tmp/tar"
name=$(basename "$dist"/brivane-*-linux-x86_64.tar.gz .tar.gz)
check_folder "$tmp/tar" "$name" LICENSE
grep -q '\./brivane -a demo\.tap' "$tmp/tar/$name/README.txt" || fail "the Linux README.txt does not show ./brivane -a demo.tap"
got=$(cd "$tmp/tar/$name" && ./brivane -a demo.tap | tail -n 1)
[ "$got" = "$want" ] || fail "the tar's brivane printed: $got"
# It starts where the C library is as old as glibc 2.17: no symbol it takes
# from a shared library is of a later version (a static program takes none).
newest=$( (objdump -T "$tmp/tar/$name/brivane" 2>/dev/null || true) | (grep -o 'GLIBC_[0-9.]*' || true) | sed 's/GLIBC_//' | sort -V | tail -n 1)
if [ -n "$newest" ] && [ "$(printf '%s\n' "$newest" 2.17 | sort -V | tail -n 1)" != 2.17 ]; then
  fail "the tar's brivane needs glibc $newest"
fi
echo "ok   the tar's brivane needs glibc ${newest:-(none: static)}"
# brivane-tap makes a TAP from a recording, and its README says what it needs.
"$write_tape" --repeat 2 recording "SIDE A" >"$tmp/side.wav"
(cd "$tmp/tar/$name" && ./brivane-tap "$tmp/side.wav" "$tmp/side.tap") || fail "the tar's brivane-tap failed"
got=$("$tmp/tar/$name/brivane" -a "$tmp/side.tap" | tail -n 1)
[ "$got" = 'FOUND (002): "SIDE A"' ] || fail "the TAP from the tar's brivane-tap lists: $got"
[ -f "$tmp/tar/$name/brivane-tap.1" ] || fail "the tar lacks brivane-tap.1"
grep -q 'libsndfile' "$tmp/tar/$name/README.txt" && ! grep -q '@TAP_GLIBC@' "$tmp/tar/$name/README.txt" ||
  fail "the Linux README.txt does not say what brivane-tap needs"
echo "ok   the tar's brivane-tap makes a TAP that lists its names"
# brivane-ls lists the example tape, and its README shows it.
grep -q '\./brivane-ls demo\.tap' "$tmp/tar/$name/README.txt" || fail "the Linux README.txt does not show ./brivane-ls demo.tap"
[ -f "$tmp/tar/$name/brivane-ls.1" ] || fail "the tar lacks brivane-ls.1"
got=$(cd "$tmp/tar/$name" && ./brivane-ls demo.tap | tail -n 1)
[ "$got" = 'demo.tap: 4 files, all load.' ] || fail "the tar's brivane-ls printed: $got"
echo "ok   the tar's brivane-ls lists the example tape"

(cd "$tmp/win" && unzip -q "$dist"/brivane-*-win32.zip)
name=$(basename "$dist"/brivane-*-win32.zip .zip)
check_folder "$tmp/win" "$name" LICENSE.txt
[ -f "$tmp/win/$name/brivane-tap.exe" ] || fail "the Windows zip lacks brivane-tap.exe"
[ -f "$tmp/win/$name/brivane-ls.exe" ] || fail "the Windows zip lacks brivane-ls.exe"
file "$tmp/win/$name/README.txt" | grep -q CRLF || fail "the Windows README.txt lacks CR LF line ends"
grep -q 'brivane\.exe -a demo\.tap' "$tmp/win/$name/README.txt" || fail "the Windows README.txt does not show brivane.exe -a demo.tap"
if command -v wine >/dev/null && dpkg-query -W -f='${Status}' wine32 2>/dev/null | grep -q 'ok installed' &&
  /lib/ld-linux.so.2 --version >/dev/null 2>&1; then  # Wine needs its 32-bit part, and a machine that starts 32-bit programs
  got=$(cd "$tmp/win/$name" && wine brivane.exe -a demo.tap | tail -n 1)
  [ "$got" = "$want"$'\r' ] || fail "brivane.exe from the zip printed: $got"
  (cd "$tmp/win/$name" && wine brivane-tap.exe "$(winepath -w "$tmp/side.wav")" side.tap) ||
    fail "brivane-tap.exe from the zip failed"
  got=$("$bin" -a "$tmp/win/$name/side.tap" | tail -n 1)
  [ "$got" = 'FOUND (002): "SIDE A"' ] || fail "the TAP from brivane-tap.exe lists: $got"
  rm "$tmp/win/$name/side.tap"
  got=$(cd "$tmp/win/$name" && wine brivane-ls.exe demo.tap | tail -n 1)
  [ "$got" = 'demo.tap: 4 files, all load.'$'\r' ] || fail "brivane-ls.exe from the zip printed: $got"
else
  echo "NOT RUN: brivane.exe from the zip, which needs Wine with its 32-bit part (wine32) and a machine that starts 32-bit programs"
fi

if ls "$dist"/brivane-*-web.zip >/dev/null 2>&1; then
  (cd "$tmp/web" && unzip -q "$dist"/brivane-*-web.zip)
  name=$(basename "$dist"/brivane-*-web.zip .zip)
  check_folder "$tmp/web" "$name" LICENSE.txt
  [ -f "$tmp/web/$name/brivane.html" ] || fail "the web zip lacks brivane.html"
  grep -q 'brivane\.html' "$tmp/web/$name/README.txt" || fail "the web README.txt does not say to open brivane.html"

  # The npm package, in an empty project.
  mkdir "$tmp/project"
  (cd "$tmp/project" && npm init -y >/dev/null && npm install --no-audit --no-fund --offline "$dist"/brivane-*.tgz >/dev/null)
  cat >"$tmp/project/check.mjs" <<'JS'
import fs from 'node:fs';
import loadBrivane from 'brivane';
const brivane = await loadBrivane();
const tape = fs.readFileSync(process.argv[2]);
for (const [all, escape] of [[false, false], [true, false], [false, true], [true, true]])
  process.stdout.write(Buffer.from(brivane.listNames(tape, {all, escape})));
JS
  got=$(cd "$tmp/project" && node check.mjs "$here/examples/demo.tap" | od -c)
  want_all=$(for o in "" "-a" "-e" "-a -e"; do "$bin" $o "$here/examples/demo.tap"; done | od -c)
  [ "$got" = "$want_all" ] || fail "the npm package's listNames differs from the program"
  pkg=$tmp/project/node_modules/brivane
  [ -f "$pkg/brivane.d.ts" ] && [ -f "$pkg/README.md" ] && [ -f "$pkg/LICENSE" ] || fail "the npm package lacks its types, README or license"
  node -e 'const p = require(process.argv[1]); if (p.types !== "./brivane.d.ts" || p.engines.node !== ">=18" || p.dependencies) process.exit(1)' \
    "$pkg/package.json" || fail "the npm package's package.json"
  node -e 'const p = require(process.argv[1]); if (!/^\d+\.\d+\.\d+$/.test(p.version)) process.exit(1)' \
    "$pkg/package.json" || fail "the npm package's version is not in three parts, as npm wants it"
  echo "ok   the npm package: installed into an empty project, listNames as the program prints"

  # A FLAC recording, through the decoders the package carries.
  if command -v flac >/dev/null; then
    flac -s -f -o "$tmp/side.flac" "$tmp/side.wav"
    got=$(cd "$tmp/project" && node -e '
      const fs = require("node:fs");
      import("brivane").then(async ({default: load}) => {
        const b = await load();
        const tap = await b.anyRecordingToTap(fs.readFileSync(process.argv[1]));
        process.stdout.write(Buffer.from(b.listNames(tap, {all: true})).toString("latin1"));
      });' "$tmp/side.flac" | tail -n 1)
    [ "$got" = 'FOUND (002): "SIDE A"' ] || fail "the npm package read the FLAC recording as: $got"
    [ -f "$pkg/THIRD-PARTY-NOTICES.txt" ] || fail "the npm package lacks THIRD-PARTY-NOTICES.txt"
    echo "ok   the npm package reads a FLAC recording"
  else
    echo "NOT RUN: the npm package on a FLAC recording: flac is missing"
  fi
  [ -f "$tmp/web/$name/THIRD-PARTY-NOTICES.txt" ] || fail "the web zip lacks THIRD-PARTY-NOTICES.txt"

  # The README's JavaScript example, as printed, in that project.
  awk '/^### From JavaScript/ {on = 1} on && /^```js$/ {code = 1; next} code && /^```$/ {exit} code' \
    "$here/README.md" >"$tmp/project/list.mjs"
  got=$(cd "$tmp/project" && node list.mjs "$here/examples/demo.tap")
  want_example=$("$bin" -a -e "$here/examples/demo.tap"; echo "4 names")
  [ "$got" = "$want_example" ] || fail "the README's JavaScript example printed: $got"
  echo "ok   the README's JavaScript example runs as printed"
fi
echo "downloads: all checked"

#!/bin/sh
# The README's web build command, run word for word in a fresh clone of this
# tree's last commit, with none of this shell's NODE_PATH: it must make the
# one-file page. Skips (77) where Emscripten is not installed.
#   readme_web_build.sh README
set -eu
command -v emcmake >/dev/null 2>&1 || { echo "no Emscripten here"; exit 77; }
readme=$(realpath "$1")
root=$(dirname "$readme")
tmp=$(mktemp -d "${TMPDIR:-/tmp}/brivane-readme.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
awk '/^```sh$/ { block = ""; inside = 1; next }
  /^```$/ && inside { inside = 0; if (block ~ /emcmake cmake/) printf "%s", block }
  inside { block = block $0 "\n" }' "$readme" >"$tmp/command"
[ -s "$tmp/command" ] || { echo "FAIL: no web build command in the README"; exit 1; }
git clone -q "$root" "$tmp/clone"
(cd "$tmp/clone" && env -u NODE_PATH sh -e "$tmp/command") >"$tmp/log" 2>&1 ||
  { tail -n 20 "$tmp/log"; echo "FAIL: the README's web build command failed:"; cat "$tmp/command"; exit 1; }
[ -s "$tmp/clone/build-web/web/brivane.html" ] || { echo "FAIL: it made no build-web/web/brivane.html"; exit 1; }
echo "ok   the README's web build command makes brivane.html: $(cat "$tmp/command")"

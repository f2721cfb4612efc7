#!/bin/sh
# The README's brivane-ls example is what brivane-ls prints for it.
#   readme_ls_test.sh BRIVANE_LS SOURCE_DIR
set -eu
ls_bin=$1
cd "$2"
want=$(awk '/^\$ \.\/build\/brivane-ls / { inside = 1; next } inside && /^```$/ { exit } inside' README.md)
args=$(sed -n 's/^\$ \.\/build\/brivane-ls //p' README.md)
[ -n "$want" ] && [ -n "$args" ] || { echo "no brivane-ls example in the README"; exit 1; }
# shellcheck disable=SC2086
got=$("$ls_bin" $args)
[ "$got" = "$want" ] || { echo "the README shows:"; echo "$want"; echo "brivane-ls prints:"; echo "$got"; exit 1; }
echo "the README's brivane-ls example is what it prints"

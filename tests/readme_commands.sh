#!/bin/sh
# Writes the README's catalogue command lines (its sh blocks that start with
# "find ~/tapes") to DIR/command1, DIR/command2, ..., with ~/tapes replaced by
# TAPES, quoted.
#   readme_commands.sh README DIR TAPES
set -eu
awk -v dir="$2" -v tapes="$3" '/^```sh$/ { block = ""; inside = 1; next }
  /^```$/ && inside {
    inside = 0
    if (block ~ /^find ~\/tapes/) {
      sub(/~\/tapes/, "\"" tapes "\"", block)
      n++; f = dir "/command" n; printf "%s", block >f; close(f)
    }
  }
  inside { block = block $0 "\n" }' "$1"

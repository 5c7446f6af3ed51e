#!/bin/sh
# Usage: built_tree_test.sh BUILD_DIR
# A tree that was just built must say so to a dry run: scripts/build.sh asks
# exactly this before it announces a build.
out=$(cmake --build "$1" -- -n 2>&1)
printf '%s\n' "$out"
printf '%s\n' "$out" | grep -q "no work to do"

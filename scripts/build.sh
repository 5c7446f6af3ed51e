#!/bin/sh
# Usage: scripts/build.sh BUILD_DIR [CMAKE_OPTION...]
# Configures BUILD_DIR with Ninja and the options (the first time) and brings
# it up to date, quietly: nothing when there is nothing to build, one line on
# standard error when a build runs, and the build's own output only when it
# fails.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=$1
shift
case "$build" in
  "$top"/*) shown=${build#"$top"/} ;;
  *) shown=$build ;;
esac
log=$(mktemp)
trap 'rm -f "$log"' EXIT

fail() {
  echo "Building Kestro in $shown failed:" >&2
  cat "$log" >&2
  exit 1
}

if [ ! -f "$build/build.ninja" ]; then
  echo "Building Kestro in $shown (the first build takes a minute or two)..." >&2
  cmake -S "$top" -B "$build" -G Ninja "$@" >"$log" 2>&1 || fail
elif cmake --build "$build" -- -n 2>&1 | grep -q "no work to do"; then
  exit 0
else
  echo "Building Kestro in $shown (sources changed)..." >&2
fi
cmake --build "$build" >"$log" 2>&1 || fail

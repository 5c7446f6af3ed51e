#!/bin/sh
# Installs the Debian packages that are missing for a purpose: build, test,
# bench or fuzz. Quick when everything is in place.
set -eu

build_pkgs="build-essential cmake ninja-build pkg-config libgtest-dev libusb-1.0-0-dev libftdi1-2 libcurl4-openssl-dev libfluidsynth-dev libmpg123-dev libsdl2-dev fluid-soundfont-gm qt6-base-dev qt6-svg-dev librsvg2-bin"
test_pkgs="dosfstools mtools python3-mido python3-mutagen abcmidi sox libsox-fmt-mp3 timgm6mb-soundfont xvfb xauth lintian appstream desktop-file-utils poppler-utils"
# The fuzz tree: clang with its libFuzzer and sanitizer runtimes. The tests
# run each fuzz program for a while, so they need it too.
fuzz_pkgs="clang libclang-rt-14-dev"

want="$build_pkgs"
for purpose in "$@"; do
  case "$purpose" in
    build|bench) ;;
    test) want="$want $test_pkgs $fuzz_pkgs" ;;
    fuzz) want="$want $fuzz_pkgs" ;;
    *) echo "deps.sh: unknown purpose $purpose" >&2; exit 2 ;;
  esac
done

# One dpkg-query for the lot: a package it does not list as installed is
# missing (an unknown name is not listed at all).
# shellcheck disable=SC2086
installed=" $(dpkg-query -W -f='${Package} ${Status}\n' $want 2>/dev/null | awk '$NF == "installed" && $(NF-1) == "ok" {printf "%s ", $1}')"
missing=""
for p in $want; do
  case "$installed" in
    *" $p "*) ;;
    *) missing="$missing $p" ;;
  esac
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing" >&2
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# shellcheck disable=SC2086
$sudo apt-get install -y -qq --no-install-recommends $missing

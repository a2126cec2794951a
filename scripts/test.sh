#!/usr/bin/env bash
# Sets up, builds and runs every test: the formatting check, the default build (unit, window, end-to-end over a
# pseudo-terminal, and the emulated AVR), the two Debian packages built from it and their programs run
# unpacked, the AddressSanitizer + UndefinedBehaviorSanitizer build, a short run of each fuzz
# target, the Windows build (the floors, brindlemark-cli.exe and the Win32 window) tested under wine; last, the README's run
# command on a fresh clone of HEAD without a display.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)
# Paths below the checkout are hashed relative to it, so the fresh clone at the end finds its
# objects in the cache.
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true

echo "== formatting"
scripts/check-format.sh

echo "== default build"
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"

echo "== Debian packages"
scripts/check-package.sh

echo "== asan build"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

if [ -x scripts/fuzz.sh ]; then
  echo "== fuzzing"
  scripts/fuzz.sh 30
fi

echo "== Windows build (the floors, brindlemark-cli.exe and the Win32 window), under wine"
scripts/test-windows.sh

echo "== the run command on a fresh clone"
scripts/check-first-run.sh

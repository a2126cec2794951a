#!/usr/bin/env bash
# The toolkit-free floors (protocol, base, images, link, platform/sim, shell/core) built for
# Windows with MinGW-w64 and their tests run under wine, in a fresh wine prefix each time.
#
#   scripts/test-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=$(mktemp -d)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$prefix"' EXIT
export WINEPREFIX=$prefix WINEDEBUG=-all WINEARCH=win64
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"
ctest --preset windows

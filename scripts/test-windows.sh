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
# One wine server kept up, and the prefix made with its services running, before any test
# starts: tests run side by side, and several first wine processes racing to create the prefix
# and start the server lose it under one another ("wine client error: recvmsg: Connection reset
# by peer"). The services start here, with their output to /dev/null: started by a test they
# would hold its output pipe open.
wineserver -p
wineboot --init >/dev/null 2>&1
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"
ctest --preset windows

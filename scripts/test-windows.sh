#!/usr/bin/env bash
# Builds for Windows with MinGW-w64 and runs the tests under wine, in a fresh wine prefix each
# time:
#  - the toolkit-free floors (protocol, base, images, link, platform/sim, shell/core) and the
#    command line's reading;
#  - the Win32 window (brindlemark.exe): its texts, styled runs, file filter and event loop
#    without a screen; the real window in process and the program driven from outside through
#    a download (win32_window_test, win32_window_driver), each on a virtual X display
#    (xvfb-run), against the simulated target.
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
# would hold its output pipe open. Without a display: wineboot would otherwise offer to fetch
# wine-mono and wine-gecko (Debian ships neither) in a dialog that waits for an answer.
wineserver -p
env -u DISPLAY wineboot --init >/dev/null 2>&1
echo "== building for Windows (build-windows)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j 2
echo "== the tests under wine: the floors, the command line's reading, the Win32 window"
ctest --preset windows

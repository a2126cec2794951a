#!/usr/bin/env bash
# Builds for Windows with MinGW-w64 and runs the tests under wine, in a fresh wine prefix each
# time:
#  - the toolkit-free floors (protocol, base, images, link, platform/sim, shell/core) and the
#    command line's reading;
#  - the Win32 window (brindlemark.exe): its texts, styled runs, file filter and event loop
#    without a screen; the real window in process and the program driven from outside through
#    a download (win32_window_test, win32_window_driver), against the simulated target.
# Every test runs on one virtual X display (xvfb-run): wine makes windows only on the display
# its desktop started with, and whichever test comes first starts it.
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
# The desktop wineboot started has no display: it goes with this server, and the next one
# starts on the tests' display.
wineserver -k
wineserver -w
echo "== building for Windows (build-windows)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j 2
echo "== the tests under wine: the floors, the command line's reading, the Win32 window"
# The services and the desktop started again first, on that display and with their output to
# /dev/null, for the reason above.
xvfb-run -a -s "-screen 0 1024x768x24" \
  bash -c 'wineserver -p && wine wineboot >/dev/null 2>&1 && ctest --preset windows'

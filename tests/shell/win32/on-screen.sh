#!/usr/bin/env bash
# Runs a Windows program under wine on a screen. Wine makes windows only on the display its
# desktop started with, and whichever wine program comes first starts it:
#  - with a display (scripts/test-windows.sh runs every test on one virtual display, and starts
#    wine's desktop on it first), the program runs there;
#  - without one (ctest --preset windows on its own), it runs on a virtual display of its own,
#    once the wine programs of the tests before it have ended (the tests that call this run
#    alone: RUN_SERIAL), so that its desktop starts on that display.
#
#   tests/shell/win32/on-screen.sh PROGRAM.exe [ARGS...]
set -euo pipefail
if [ -n "${DISPLAY:-}" ]; then
  exec wine "$@"
fi
timeout 60 wineserver -w || true
exec xvfb-run -a -s "-screen 0 1024x768x24" wine "$@"

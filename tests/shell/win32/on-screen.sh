#!/usr/bin/env bash
# Runs a Windows program under wine on a screen: the X display there is (scripts/test-windows.sh
# runs every test on one virtual display, which wine's desktop was started on too), else a
# virtual display of its own. Wine makes windows only on the display its desktop started with.
#
#   tests/shell/win32/on-screen.sh PROGRAM.exe [ARGS...]
set -euo pipefail
if [ -n "${DISPLAY:-}" ]; then
  exec wine "$@"
fi
exec xvfb-run -a -s "-screen 0 1024x768x24" wine "$@"

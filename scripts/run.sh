#!/usr/bin/env bash
# Sets up, builds and runs the program's main job.
# With a display: the desktop program, with the simulated target offered as port "sim"
# (Load examples/blink/blink.ppro, Comport, Download). Without one: the headless demo, which
# flashes the example project into the simulated target with brindlemark-cli.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target brindlemark brindlemark-cli

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec build/bin/brindlemark --simulated-target "$@"
fi

echo "No display found (DISPLAY is not set): running the headless demo instead."
echo "+ brindlemark-cli download examples/blink/blink.ppro --port sim --stop"
exec build/bin/brindlemark-cli download examples/blink/blink.ppro --port sim --stop "$@"

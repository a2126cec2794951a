#!/usr/bin/env bash
# Runs the README's run command as a newcomer does: in a fresh clone of HEAD, without a display,
# so no program built earlier in this tree can hide a missing build step. It must exit 0 having
# flashed the example project into the simulated target.
#
#   scripts/check-first-run.sh
set -euo pipefail
cd "$(dirname "$0")/.."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git clone -q . "$work/brindlemark"
log=$work/run.log

# The cache is shared with this tree: paths below each checkout are hashed relative to it.
status=0
(
  cd "$work/brindlemark"
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true
  env -u DISPLAY -u WAYLAND_DISPLAY scripts/run.sh
) >"$log" 2>&1 || status=$?

if [ "$status" -ne 0 ] || ! grep -qx 'download: done' "$log"; then
  tail -n 30 "$log" >&2
  echo "check-first-run: scripts/run.sh on a fresh clone exited with $status" \
    "$(grep -qx 'download: done' "$log" && echo "after the download" || echo "without 'download: done'")" >&2
  exit 1
fi
grep -x 'download: done' "$log"
echo "first run checked: a fresh clone flashed the example without a display"

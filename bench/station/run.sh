#!/usr/bin/env bash
# The station's reaction: paced simulated targets on pseudo-terminals whose links appear in a
# watched folder. Prints how long after its link appeared each board's child started (the JSON
# lines' "t": appeared -> start) and how long 8 boards plugged at once take against one.
#
#   bench/station/run.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
cli=$build/bin/brindlemark-cli
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT

run() {  # run N: N boards plugged in at once; prints the delays and the time to the last result
  local n=$1 i
  rm -rf "$work/by-id"
  for i in $(seq "$n"); do
    "$build/bin/brindlemark-target-sim" --paced >"$work/sim$i" 2>/dev/null &
    pids+=($!)
  done
  sleep 0.5
  "$cli" station examples/blink/blink.ppro --watch "$work/by-id" --settle 0 --json >"$work/out" 2>/dev/null &
  local station=$!
  sleep 0.5
  mkdir -p "$work/by-id.new"
  for i in $(seq "$n"); do ln -s "$(head -1 "$work/sim$i")" "$work/by-id.new/board$i"; done
  mv "$work/by-id.new" "$work/by-id"  # all at once, as a hub powering up
  for _ in $(seq 100); do
    [ "$(grep -c '"event":"result"' "$work/out" || true)" -ge "$n" ] && break
    sleep 0.1
  done
  kill -INT "$station"; wait "$station" || true
  python3 - "$work/out" "$n" <<'PY'
import json, sys
lines = [json.loads(l) for l in open(sys.argv[1])]
appeared = {l["port"]: l["t"] for l in lines if l["event"] == "appeared"}
start = {l["port"]: l["t"] for l in lines if l["event"] == "start"}
done = [l["t"] for l in lines if l["event"] == "result" and "port" in l]
delays = sorted(start[p] - appeared[p] for p in start)
first = min(appeared.values())
print(f"{sys.argv[2]} board(s): appeared -> child started {1000*delays[0]:.0f}-{1000*delays[-1]:.0f} ms; "
      f"last result {max(done) - first:.2f} s after the links appeared")
PY
  kill "${pids[@]}" 2>/dev/null || true
  pids=()
}

run 1
run 8

#!/usr/bin/env bash
# A 30,000-byte download at 115200 baud into brindlemark-target-sim --paced (each byte takes its
# line time, each page 4.5 ms), once by brindlemark-cli.exe through wine's COM port and once by
# the Linux brindlemark-cli on the same pseudo-terminal, taking turns, in one run: the seconds of
# each (the result line's "seconds": the tool's own time, without wine's start) and their ratio.
# Two images take turns, so every download writes every page.
#
#   bench/windows/run.sh [RUNS]   (3 of each; needs build/ and build-windows/ built)
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-3}
work=$(mktemp -d)
cleanup() {
  [ -f "$work/sim.pid" ] && kill "$(cat "$work/sim.pid")" 2>/dev/null || true
  # Gone before its prefix is: a server that cannot save its registry as it ends dumps its state.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEARCH=win64

python3 - "$work" <<'PY'
import random, sys
for name, seed in (("a", 1), ("b", 2)):
    data = random.Random(seed).randbytes(30000)
    with open(f"{sys.argv[1]}/{name}.hex", "w") as out:
        for at in range(0, len(data), 16):
            chunk = data[at:at + 16]
            record = bytes([len(chunk), at >> 8, at & 0xFF, 0]) + chunk
            out.write(":" + record.hex().upper() + f"{-sum(record) & 0xFF:02X}\n")
        out.write(":00000001FF\n")
PY

build/bin/brindlemark-target-sim --paced --flash-words 0x3C00 >"$work/sim.dev" 2>/dev/null </dev/null &
echo $! >"$work/sim.pid"
for _ in $(seq 100); do
  [ -s "$work/sim.dev" ] && break
  sleep 0.05
done
pty=$(head -1 "$work/sim.dev")

mkdir -p "$WINEPREFIX"
wineserver -p 2>>"$work/wineserver.log"
env -u DISPLAY wineboot --init >/dev/null 2>&1
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$pty" /f >/dev/null 2>&1
wineserver -k
wineserver -w
wineserver -p 2>>"$work/wineserver.log"
env -u DISPLAY wineboot >/dev/null 2>&1

# The run's own seconds from its result line; a run that failed stops the bench with its lines.
seconds() {
  python3 - "$1" <<'PY' || { cat "$1" >&2; exit 1; }
import json, sys
r = [json.loads(l) for l in open(sys.argv[1]) if '"result"' in l][-1]
if r["outcome"] != "done":
    sys.exit(f"the download failed: {r['outcome']} {r['failures']}")
print(r["seconds"])
PY
}
linux=()
windows=()
for i in $(seq "$runs"); do
  build/bin/brindlemark-cli download "$work/a.hex" --port "$pty" --baud 115200 --json >"$work/linux.jsonl" 2>/dev/null || true
  linux+=("$(seconds "$work/linux.jsonl")")
  wine build-windows/bin/brindlemark-cli.exe download "$work/b.hex" --port COM5 --baud 115200 --json \
    >"$work/windows.jsonl" 2>/dev/null || true
  windows+=("$(seconds "$work/windows.jsonl")")
  echo "run $i: Linux ${linux[-1]} s, Windows under wine ${windows[-1]} s"
done
python3 - "${linux[*]}" "${windows[*]}" <<'PY'
import statistics, sys
linux = [float(x) for x in sys.argv[1].split()]
windows = [float(x) for x in sys.argv[2].split()]
floor = 30000 * 11 / 115200 + (30000 // 128 + 1) * 0.0045
l, w = statistics.median(linux), statistics.median(windows)
print(f"30,000 bytes at 115200 baud (line and page time alone: {floor:.2f} s): Linux {l:.2f} s, "
      f"Windows under wine {w:.2f} s; ratio {w / l:.2f}")
PY

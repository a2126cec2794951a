#!/usr/bin/env bash
# The Windows build — the toolkit-free floors, the Win32 platform (src/platform/win32),
# brindlemark-cli.exe and the Win32 window brindlemark.exe — made with MinGW-w64 and tested under
# wine, in a fresh wine prefix each time:
#   1. the unit tests (ctest --preset windows): the floors, the command line's reading, the COM
#      port's own tests, and the Win32 window's (its texts, file filter and loop without a screen;
#      the real window in process, and the program driven from outside through a download).
#      They run on one virtual X display (xvfb-run): wine makes windows only on the display its
#      desktop started with, and whichever test comes first starts it;
#   2. brindlemark.exe searching the COM ports for a target of its own (COM12, the highest, so the
#      first the search tries) and downloading into it, driven from outside; the target's memory
#      then holds the image;
#   3. brindlemark-cli.exe through real COM ports of the prefix, each mapped to the
#      pseudo-terminal of a brindlemark-target-sim (the Linux program of the default build):
#      ports, download --verify (the target's memory held against the Linux load of the same
#      file), an unplugged target, gang, station, Ctrl-C, a stopped board, the refused --watch;
#   4. the installer (packaging/windows/brindlemark.nsi, with the Linux build's loader images):
#      installed silently, the installed programs started, uninstalled silently, nothing left
#      (tests/windows/installer-test.sh).
#
#   scripts/test-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
cleanup() {
  for pidfile in "$work"/*.pid; do [ -f "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null || true; done
  # Gone before its prefix is: a server that cannot save its registry as it ends dumps its state.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEARCH=win64
cli=build-windows/bin/brindlemark-cli.exe
blink=examples/blink/blink.ppro
validate=tests/docs/validate-json-lines.py
schema=docs/brindlemark-cli.schema.json
checks=0

say() { echo "== $*"; }
ok() {
  checks=$((checks + 1))
  echo "ok: $*"
}
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
# The value of `field` in the last line of JSON lines `file` whose "event" is `event`.
field() {
  python3 - "$1" "$2" "$3" <<'PY'
import json, sys
lines = [json.loads(l) for l in open(sys.argv[1]) if l.strip()]
found = [l for l in lines if l.get("event") == sys.argv[2]]
print(json.dumps(found[-1].get(sys.argv[3])) if found else "missing")
PY
}
valid() { python3 "$validate" "$schema" "$1" || fail "$1: lines the schema does not take"; }

say "the Windows build (MinGW-w64)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"

# The simulated targets are the Linux program; the memory check takes the Linux load; the
# installer carries the loader images the Linux build makes with avr-gcc.
if [ ! -x build/bin/brindlemark-target-sim ] || [ ! -x build/bin/brindlemark-cli ] ||
  ! compgen -G 'build/loaders/brindlemark-loader-*.hex' >/dev/null; then
  say "brindlemark-target-sim, brindlemark-cli and the loader images of the Linux build"
  [ -f build/build.ninja ] || cmake --preset default >/dev/null
  cmake --build build -j "$(nproc)" --target brindlemark-target-sim brindlemark-cli \
    $(ninja -C build -t targets all | sed -n 's/^\(brindlemark-loader-[^:]*\): phony$/\1/p')
fi
cmake --build --preset windows --target windows-installer
setup=$(ls -t build-windows/brindlemark-*-setup.exe | head -1)

# sim NAME OPTION...: a simulated target on a pseudo-terminal, its device in $work/NAME.dev.
sim() {
  local name=$1
  shift
  build/bin/brindlemark-target-sim "$@" >"$work/$name.dev" 2>"$work/$name.err" </dev/null &
  echo $! >"$work/$name.pid"
  for _ in $(seq 100); do
    [ -s "$work/$name.dev" ] && break
    sleep 0.05
  done
}
device() { head -1 "$work/$1.dev"; }
declare -A ports
sim download --flash-out "$work/flash.bin" --eeprom-out "$work/eeprom.bin"
sim answers
sim hangup --fault '?:2:vanish'    # the port's own test: gone at the second "?"
sim unplugged --fault 'D:2:vanish' # above COM9: only \\.\COM10 opens it
sim slow --paced                   # at 1200 baud a download takes seconds
sim window --flash-out "$work/window-flash.bin" --eeprom-out "$work/window-eeprom.bin"
ports[COM5]=$(device download)
ports[COM6]=$(device answers)
ports[COM7]=$(device hangup)
ports[COM10]=$(device unplugged)
ports[COM11]=$(device slow)
ports[COM12]=$(device window)

say "a fresh wine prefix, its COM ports mapped to the simulated targets"
# One wine server kept up, and the prefix made with its services running, before any test
# starts: tests run side by side, and several first wine processes racing to create the prefix
# and start the server lose it under one another ("wine client error: recvmsg: Connection reset
# by peer"). The services start here, with their output to /dev/null: started by a test they
# would hold its output pipe open. The server's own messages go to a file: killed at the end
# with wine's programs still running, it dumps every object it holds. No display: a dialog
# offering to download wine-mono or wine-gecko would wait for a click.
mkdir -p "$WINEPREFIX"
wineserver -p 2>>"$work/wineserver.log"
env -u DISPLAY wineboot --init >/dev/null 2>&1
# Wine reads its COM ports (HKLM\Software\Wine\Ports) when its server starts: map them, then
# start it again.
for com in "${!ports[@]}"; do
  wine reg add 'HKLM\Software\Wine\Ports' /v "$com" /d "${ports[$com]}" /f >/dev/null 2>&1
  echo "$com -> ${ports[$com]}"
done
wineserver -k
wineserver -w

say "unit tests under wine, on a virtual display; then the window's search through the COM ports"
# The services and the desktop started again first, on that display and with their output to
# /dev/null, for the reason above. The window's own COM-port run comes after ctest: its search
# goes through every port, and must not touch the targets the port's tests need as they are.
BM_TEST_SIM_PORT=COM6 BM_TEST_HANGUP_PORT=COM7 xvfb-run -a -s "-screen 0 1024x768x24" \
  bash -c 'wineserver -p 2>>"$0/wineserver.log" && wine wineboot >/dev/null 2>&1 && ctest --preset windows &&
    BM_TEST_WINDOW_PORT=COM12 BM_TEST_WINDOW_FILE=$1 wine build-windows/bin/win32_window_driver.exe build-windows/bin/brindlemark.exe \
      --gtest_filter=WindowUnderWine.DownloadThroughACOMPortTheSearchFound --gtest_brief=1' "$work" "$blink"
# The command line needs no display: the server started again without one.
wineserver -k
wineserver -w
wineserver -p 2>>"$work/wineserver.log"
env -u DISPLAY wineboot >/dev/null 2>&1

# A simulated target writes its memory when it ends: it must hold what the Linux load of the file
# holds (holds_image NAME PREFIX: the target NAME, its files PREFIXflash.bin and PREFIXeeprom.bin).
build/bin/brindlemark-cli load $blink --flash-out "$work/expected-flash.bin" --eeprom-out "$work/expected-eeprom.bin" >/dev/null
holds_image() {
  local pid
  pid=$(cat "$work/$1.pid")
  kill -TERM "$pid"
  wait "$pid" || true
  python3 - "$work" "$2" <<'PY'
import sys
work, prefix = sys.argv[1], sys.argv[2]
for kind in ("flash", "eeprom"):
    got = open(f"{work}/{prefix}{kind}.bin", "rb").read()
    expected = open(f"{work}/expected-{kind}.bin", "rb").read()
    rest = got[len(expected):]
    if got[: len(expected)] != expected or rest != b"\xff" * len(rest):
        sys.exit(f"{kind}: the target holds something else than the image ({len(expected)} bytes)")
PY
}
holds_image window window- || fail "the window's target on COM12 holds something else than the image"
ok "brindlemark.exe found the target on COM12 and downloaded into it: its flash and EEPROM equal the image"

say "brindlemark-cli.exe through wine's COM ports"
out=$work/out.jsonl
err=$work/err.txt

wine $cli ports --json >"$out"
valid "$out"
grep -q '"port":"COM5"' "$out" || fail "ports --json does not list COM5: $(cat "$out")"
ok "ports --json lists the mapped COM5"

status=0
wine $cli download $blink --port COM5 --baud 115200 --json --verify >"$out" 2>"$err" || status=$?
valid "$out"
[ "$status" = 0 ] && [ "$(field "$out" result outcome)" = '"done"' ] && [ "$(field "$out" result verified)" = true ] ||
  fail "download --verify on COM5: exit $status; $(cat "$out" "$err")"
ok "download $blink --port COM5 --baud 115200 --json --verify: done, verified"

holds_image download "" || fail "the target's memory differs from the image"
ok "the target's flash and EEPROM equal brindlemark-cli load --flash-out/--eeprom-out of the same file"

status=0
wine $cli download $blink --port COM10 --json -v >"$out" 2>"$err" || status=$?
valid "$out"
[ "$status" = 5 ] && [ "$(field "$out" result outcome)" = '"port-lost"' ] ||
  fail "a target that goes away on COM10: exit $status; $(tail -3 "$out") $(tail -3 "$err")"
grep -q "latency timer" "$err" || fail "-v does not say that Windows leaves the latency timer to the driver"
ok "a target that goes away mid-run (COM10): port-lost, exit 5; -v says the latency timer is the driver's"

status=0
wine $cli gang $blink --port COM6 --port '\\.\com6' --json >"$out" 2>"$err" || status=$?
valid "$out"
boards=$(field "$out" result boards)
[ "$status" = 0 ] && [ "$(python3 -c 'import json,sys; b=json.loads(sys.argv[1]); print(len(b), b[0]["outcome"])' "$boards")" = "1 done" ] ||
  fail "gang on two names of COM6: exit $status; $boards $(cat "$err")"
ok "gang --port COM6 --port \\\\.\\com6: one board (one port by two names), done"

status=0
timeout 60 wine $cli station $blink --port COM6 --max-boards 1 --settle 0 --json >"$out" 2>"$err" || status=$?
valid "$out"
[ "$status" = 0 ] && [ "$(field "$out" appeared port)" = '"COM6"' ] && [ "$(field "$out" result outcome)" = '"done"' ] ||
  fail "station on COM6: exit $status; $(cat "$out" "$err")"
ok "station --port COM6 --max-boards 1: the port appeared, its board was flashed by a child"

# station reads FILE again when it changes (the system's change notifications); the first Ctrl-C
# takes no new boards and, none running, ends it.
mkdir "$work/project"
cp examples/blink/blink.* "$work/project/"
wine $cli station "$work/project/blink.ppro" --port COM6 --settle 0 --json >"$out" 2>"$err" &
pid=$!
for _ in $(seq 300); do
  grep -q '"event":"result","t":[0-9.]*,"port"' "$out" && break
  sleep 0.05
done
cat "$work/project/blink.hex" >"$work/blink.hex"
cat "$work/blink.hex" >"$work/project/blink.hex" # the same image, written again
for _ in $(seq 300); do
  grep -q 'changed on disk: loaded again' "$out" && break
  sleep 0.05
done
kill -INT "$pid"
status=0
wait "$pid" || status=$?
valid "$out"
grep -q 'changed on disk: loaded again' "$out" && [ "$status" = 0 ] && [ "$(field "$out" result outcome)" = '"done"' ] ||
  fail "station and a changed file: exit $status; $(cat "$out" "$err")"
ok "station: a changed FILE is loaded again; Ctrl-C with no board running ends it, exit 0"

# Ctrl-C: wine hands SIGINT to the console's control handler as CTRL_C_EVENT.
wine $cli download $blink --port COM11 --baud 1200 --json >"$out" 2>"$err" &
pid=$!
for _ in $(seq 200); do
  grep -q '"event":"phase"' "$out" && break
  sleep 0.05
done
kill -INT "$pid"
status=0
wait "$pid" || status=$?
valid "$out"
[ "$status" = 130 ] && [ "$(field "$out" result outcome)" = '"stopped"' ] ||
  fail "Ctrl-C during a download: exit $status; $(tail -3 "$out") $(tail -3 "$err")"
ok "Ctrl-C (SIGINT to wine) during a download: stopped, exit 130"

# A board stopped by gang's --timeout ends its own run (the stop event), with its own result line.
status=0
wine $cli gang $blink --port COM11 --baud 1200 --timeout 1 --json >"$out" 2>"$err" || status=$?
valid "$out"
own=$(python3 -c '
import json, sys
lines = [json.loads(l) for l in open(sys.argv[1]) if l.strip()]
print([l["outcome"] for l in lines if l["event"] == "result" and "port" in l])' "$out")
[ "$status" = 8 ] && [ "$own" = "['stopped']" ] && [ "$(field "$out" result boards | grep -c timeout)" = 1 ] ||
  fail "gang --timeout 1 on a slow board: exit $status; its child's results: $own; $(tail -3 "$err")"
ok "gang --timeout 1: the board's child ended its run as quitting (stop event), the board timed out"

status=0
wine $cli station $blink --watch 'C:\boards' >"$out" 2>"$err" || status=$?
[ "$status" = 2 ] && [ "$(wc -l <"$err")" = 1 ] || fail "station --watch on Windows: exit $status; $(cat "$err")"
ok "station --watch: refused in one line, exit 2"

say "the installer $setup under wine, on a virtual display"
wineserver -k
wineserver -w
xvfb-run -a -s "-screen 0 1024x768x24" bash -c 'wineserver -p 2>>"$0/wineserver.log" && wine wineboot >/dev/null 2>&1 &&
  tests/windows/installer-test.sh "$1" build-windows/bin/win32_window_driver.exe' "$work" "$setup"

say "Windows: the unit tests above (ctest), $checks checks of brindlemark.exe and brindlemark-cli.exe through wine's COM ports and the installer's checks passed"

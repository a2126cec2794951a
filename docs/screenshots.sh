#!/usr/bin/env bash
# Runs the desktop program under Xvfb, drives it as a person would (mouse clicks and typing
# through xdotool) and takes the screenshots kept in docs/.
#
#   xvfb-run -a -s "-screen 0 800x600x24" docs/screenshots.sh [BUILD_DIR]
#
# Needs xdotool and imagemagick (apt-get install xdotool imagemagick). There is no window
# manager under a bare Xvfb, so the windows show without title bars.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=docs
examples=$PWD/examples

"$build/bin/brindlemark" --simulated-target &
app=$!
trap 'kill $app 2>/dev/null; wait $app 2>/dev/null || true' EXIT

window_id() {  # window_id TITLE-REGEX: waits for the window and prints its id
  for _ in $(seq 50); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && { echo "$id"; return; }
    sleep 0.1
  done
  echo "no window '$1'" >&2
  exit 1
}
shot() { sleep 0.4; import -window "$1" "$out/$2.png"; echo "wrote $out/$2.png"; }
click() { xdotool mousemove --window "$main" "$1" "$2" click 1; }
menubar=$(( $(xdotool getwindowgeometry "$(window_id '^Brindlemark')" | awk -F'[x ]' '/Geometry/ {print $NF}') - 279 ))
button_y=$(( menubar + 16 ))
load() {  # load FILE: Load button, type the path into the file dialog
  click 48 "$button_y"
  dialog=$(window_id '^$|Open|Files')
  sleep 0.3
  xdotool type --delay 5 "$1"
  xdotool key Return
  sleep 0.6
}

main=$(window_id '^Brindlemark')
shot "$main" main-start

load "$examples/blink/blink.ppro"
shot "$main" main-loaded

click 138 "$button_y"   # Comport
sleep 1
shot "$main" main-connected

click 228 "$button_y"   # Download
sleep 1.5
shot "$main" main-downloaded

click 408 "$button_y"   # Stop
sleep 0.5
shot "$main" main-stopped

load "$examples/blink.pack"
xdotool mousemove --window "$main" 20 $(( menubar / 2 )) click 1   # File
sleep 0.5
import -window root -crop 455x200+0+0 "$out/menu-file.png"; echo "wrote $out/menu-file.png"
xdotool key Down Down Return  # Load, then Parameter
params=$(window_id '^Parameter list of')
shot "$params" parameter-list
xdotool key Return  # OK has the focus
sleep 0.3

xdotool mousemove --window "$main" 60 $(( menubar / 2 )) click 1   # Help
sleep 0.5
xdotool key Up Return  # the last item: About Tarnwick
sleep 0.8
about=""
for id in $(xdotool search --onlyvisible --name '.*' 2>/dev/null); do
  if xdotool getwindowgeometry "$id" | grep -q 'Geometry: 284x326'; then about=$id; fi
done
[ -n "$about" ] || { echo "no About window" >&2; exit 1; }
shot "$about" about
xdotool key Escape  # Esc closes About
sleep 0.3

# The question when the window is closed during a download: a second instance on a paced
# simulated target at 9600 baud, with a 16 KiB image so the run lasts long enough to ask.
scratch=$(mktemp -d)
awk 'BEGIN { for (a = 0; a < 16384; a += 16) { s = 16 + int(a / 256) + a % 256; line = sprintf(":10%04X00", a);
             for (i = 0; i < 16; i++) { v = (a + i) * 7 % 251; s += v; line = line sprintf("%02X", v) }
             printf "%s%02X\n", line, (256 - s % 256) % 256 } print ":00000001FF" }' > "$scratch/board.hex"
"$build/bin/brindlemark-target-sim" --paced > "$scratch/sim.out" 2>/dev/null &
sim=$!
sleep 0.5
device=$(head -1 "$scratch/sim.out")
kill $app 2>/dev/null; wait $app 2>/dev/null || true
"$build/bin/brindlemark" --port "$device" "$scratch/board.hex" &
app=$!
trap 'kill $app $sim 2>/dev/null; wait $app 2>/dev/null || true; rm -rf "$scratch"' EXIT
main=$(window_id '^Brindlemark')
sleep 0.5
xdotool mousemove --window "$main" 20 $(( menubar / 2 )) click 1   # File
sleep 0.3
xdotool key Escape
click 138 "$button_y"   # Comport
sleep 1
click 228 "$button_y"   # Download
sleep 1
xdotool mousemove --window "$main" 20 $(( menubar / 2 )) click 1   # File
sleep 0.3
xdotool key Up Return  # Quit
sleep 0.8
import -window root -crop 455x298+0+0 "$out/quit-question.png"; echo "wrote $out/quit-question.png"

#!/usr/bin/env bash
# Takes docs/images/windows-window.png: brindlemark.exe under wine after a download into the
# simulated target. The program runs in wine's own desktop (which draws the title bar as
# Windows does) on a virtual X display, driven by the window's test driver
# (tests/shell/win32/WindowDriverTest.cpp), which says where the window is once the download
# has finished and waits while the picture is taken.
#
#   scripts/windows-screenshot.sh
#
# Needs the Windows build (cmake --preset windows && cmake --build --preset windows), xvfb and
# imagemagick (apt-get install imagemagick).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-windows
out=docs/images/windows-window.png
for f in "$build/bin/brindlemark.exe" "$build/bin/win32_window_driver.exe"; do
  [ -f "$f" ] || { echo "$f is missing: build the windows preset first" >&2; exit 1; }
done
command -v import >/dev/null || { echo "import is missing: apt-get install imagemagick" >&2; exit 1; }

work=$(mktemp -d)
trap 'WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEARCH=win64
env -u DISPLAY wineboot --init >/dev/null 2>&1
export BM_WINDOW_SHOT=$work/window-place

cat > "$work/shot.sh" <<'SHOT'
#!/usr/bin/env bash
set -euo pipefail
build=$1 out=$2
wine explorer /desktop=Brindlemark,640x440 "$build/bin/win32_window_driver.exe" "$build/bin/brindlemark.exe" \
  --gtest_filter='*LoadThroughTheFileDialog*' >"$BM_WINDOW_SHOT.log" 2>&1 &
driver=$!
for _ in $(seq 600); do [ -s "$BM_WINDOW_SHOT" ] && break; sleep 0.1; done
[ -s "$BM_WINDOW_SHOT" ] || { echo "the driver never reached the download's end" >&2; cat "$BM_WINDOW_SHOT.log" >&2; exit 1; }
read -r x y w h < "$BM_WINDOW_SHOT"
sleep 1  # the last paint
import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out"
rm -f "$BM_WINDOW_SHOT"
wait "$driver" || { cat "$BM_WINDOW_SHOT.log" >&2; exit 1; }
SHOT
chmod +x "$work/shot.sh"
xvfb-run -a -s "-screen 0 800x600x24" "$work/shot.sh" "$build" "$out"
echo "wrote $out"

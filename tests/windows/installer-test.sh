#!/usr/bin/env bash
# The Windows installer under wine, as a user meets it: installed silently, the file types and the
# Start menu in place (a .pac file's owner left alone), the installed programs started, the
# uninstaller run silently, and nothing of it left behind: no file, no Start-menu entry, no
# registry key or value (the registry exported before and after, and compared).
#
#   tests/windows/installer-test.sh SETUP.exe WINDOW-DRIVER.exe
#
# Run by scripts/test-windows.sh with WINEPREFIX set and the wine server started on a display
# (the window is started through its driver).
set -euo pipefail
# Wine would mirror the Start menu and the file types into this machine's own menus
# (~/.local/share/applications): not what is tested, and not this test's to leave behind.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winemenubuilder.exe=d"
setup=$1
driver=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dir='C:\Program Files\Brindlemark'
unix=$(winepath -u "$dir" 2>/dev/null)
menu=$(winepath -u 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Brindlemark' 2>/dev/null)
checks=0

ok() {
  checks=$((checks + 1))
  echo "ok: $*"
}
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
# The (Default) value of a key, or "none".
default_of() {
  wine reg query "$1" /ve 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p' | grep . || echo none
}
# The machine's and the user's settings, as text to compare; wine's own (HKCU\Software\Wine:
# its passing state) left out.
snapshot() {
  for hive in HKLM HKCU; do
    wine reg export "$hive\\Software" "$(winepath -w "$work/$1-$hive.reg" 2>/dev/null)" /y >/dev/null 2>&1
    iconv -f UTF-16 -t UTF-8 "$work/$1-$hive.reg" | tr -d '\r' | grep -v '^#time=' |
      awk '/^\[/ { skip = index($0, "[HKEY_CURRENT_USER\\Software\\Wine") == 1 } !skip' >"$work/$1-$hive.txt"
  done
}

# A proxy auto-config file type, as a system may have it: the installer must leave it its owner.
wine reg add 'HKLM\Software\Classes\.pac' /ve /d 'Proxy.AutoConfig' /f >/dev/null 2>&1
snapshot before

wine "$setup" /S
for f in brindlemark.exe brindlemark-cli.exe uninstall.exe LICENSE.txt loaders/README.md docs/windows.md \
  docs/cli.md docs/loader.md docs/brindlemark-cli.schema.json; do
  [ -f "$unix/$f" ] || fail "the installer left out $f"
done
[ -f "$menu/Brindlemark.lnk" ] && [ -f "$menu/Brindlemark command line.lnk" ] ||
  fail "no Start-menu entries: $(ls "$menu" 2>&1)"
ok "setup.exe /S: both programs, the loaders and the manuals in $dir; the Start-menu entries"

[ "$(default_of 'HKLM\Software\Classes\.ppro')" = Brindlemark.Project ] &&
  [ "$(default_of 'HKLM\Software\Classes\.pack')" = Brindlemark.Pack ] &&
  [ "$(default_of 'HKLM\Software\Classes\Brindlemark.Project\shell\open\command')" = "\"$dir\\brindlemark.exe\" \"%1\"" ] ||
  fail ".ppro and .pack do not open in the window: $(wine reg query 'HKLM\Software\Classes\Brindlemark.Project' /s 2>&1)"
[ "$(default_of 'HKLM\Software\Classes\.pac')" = Proxy.AutoConfig ] &&
  wine reg query 'HKLM\Software\Classes\.pac\OpenWithProgids' /v Brindlemark.Pack >/dev/null 2>&1 ||
  fail ".pac: $(wine reg query 'HKLM\Software\Classes\.pac' /s 2>&1)"
ok ".ppro and .pack open in brindlemark.exe; .pac keeps its owner and offers the window under Open with"

version=$(wine "$dir\\brindlemark-cli.exe" --version | head -1 | tr -d '\r')
[[ "$version" == "brindlemark-cli "* ]] || fail "the installed brindlemark-cli.exe: $version"
loaders=$(wine "$dir\\brindlemark-cli.exe" loaders | tr -d '\r')
installed=$(ls "$unix/loaders"/brindlemark-loader-*.hex | wc -l)
[ "$installed" -gt 0 ] && [ "$(grep -c 'Brindlemark\\loaders\\brindlemark-loader-' <<<"$loaders")" = "$installed" ] ||
  fail "brindlemark-cli loaders does not list the $installed installed loaders: $loaders"
ok "the installed brindlemark-cli.exe runs ($version) and lists the $installed loaders it was installed with"

wine "$driver" "$dir\\brindlemark.exe" --gtest_brief=1 \
  --gtest_filter=WindowUnderWine.TheCommandLinesFileInAFolderThatIsNotAsciiAndTheOtherWindows ||
  fail "the installed brindlemark.exe"
ok "the installed brindlemark.exe: a pack named on its command line, its parameter list and Help"

# _?= keeps the uninstaller in its folder (otherwise it runs from a copy and returns at once); the
# text after it must not be quoted, which only a batch file passes through as it stands.
printf '"%s\\uninstall.exe" /S _?=%s\r\n' "$dir" "$dir" >"$work/uninstall.bat"
wine cmd /c "$(winepath -w "$work/uninstall.bat" 2>/dev/null)" >/dev/null
# Run in place, the uninstaller cannot take itself and its folder away: its copy would.
[ "$(ls -A "$unix")" = uninstall.exe ] || fail "the uninstaller left: $(ls -AR "$unix")"
rm "$unix/uninstall.exe"
rmdir "$unix"
[ ! -e "$menu" ] || fail "the Start-menu folder is left: $(ls -A "$menu")"
snapshot after
for hive in HKLM HKCU; do
  diff "$work/before-$hive.txt" "$work/after-$hive.txt" >"$work/left.txt" ||
    fail "the uninstaller left in $hive\\Software: $(cat "$work/left.txt")"
done
ok "uninstall.exe /S: no file, no Start-menu entry, and HKLM and HKCU as they were before the install"
echo "installer: $checks checks passed"

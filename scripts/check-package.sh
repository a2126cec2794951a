#!/usr/bin/env bash
# Builds the two Debian packages from the default build (or takes the two .deb files given) and
# checks them: each one's Depends (the window's names libqt6 and brindlemark-cli; the command
# line's names no Qt package, nor does anything apt would bring in for it), that each holds
# exactly its own files and no file of the other, the programs stripped, the manual pages, the
# desktop entry, the completion, each package's copyright and changelog, lintian on both; then
# runs the unpacked programs against the system's libraries.
#
#   scripts/check-package.sh [brindlemark_VERSION_ARCH.deb brindlemark-cli_VERSION_ARCH.deb]
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -ge 2 ]; then
  window_deb=$1
  cli_deb=$2
else
  cmake --build --preset default --target package >/dev/null
  window_deb=$(ls -t build/brindlemark_*.deb | head -n 1)
  cli_deb=$(ls -t build/brindlemark-cli_*.deb | head -n 1)
fi

fail() {
  echo "check-package: $*" >&2
  exit 1
}

for deb in "$window_deb" "$cli_deb"; do
  echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"
  echo "  dpkg-deb -f $deb Depends: $(dpkg-deb -f "$deb" Depends)"
done
[ "$(dpkg-deb -f "$window_deb" Package)" = brindlemark ] || fail "$window_deb is not the package brindlemark"
[ "$(dpkg-deb -f "$cli_deb" Package)" = brindlemark-cli ] || fail "$cli_deb is not the package brindlemark-cli"
version=$(dpkg-deb -f "$window_deb" Version)
[ "$(dpkg-deb -f "$cli_deb" Version)" = "$version" ] || fail "the two packages are of different versions"

window_depends=$(dpkg-deb -f "$window_deb" Depends)
cli_depends=$(dpkg-deb -f "$cli_deb" Depends)
grep -q 'libqt6' <<<"$window_depends" || fail "brindlemark's Depends names no libqt6 package"
grep -q "brindlemark-cli (= $version)" <<<"$window_depends" ||
  fail "brindlemark does not depend on brindlemark-cli (= $version)"
# The files that moved from brindlemark to brindlemark-cli: an older brindlemark must make way.
for field in Replaces Breaks; do
  [ "$(dpkg-deb -f "$cli_deb" "$field")" = "brindlemark (<< $version)" ] ||
    fail "brindlemark-cli's $field is not 'brindlemark (<< $version)'"
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir "$root/window" "$root/cli"
dpkg-deb -x "$window_deb" "$root/window"
dpkg-deb -x "$cli_deb" "$root/cli"
window=$root/window
cli=$root/cli

# Exactly these files in each package (the loader images counted apart), and none in both.
files_of() { (cd "$1" && find . ! -type d | sed 's|^\./||' | sort); }
expected_window="usr/bin/brindlemark
usr/share/applications/brindlemark.desktop
usr/share/doc/brindlemark/changelog.gz
usr/share/doc/brindlemark/copyright
usr/share/icons/hicolor/scalable/apps/brindlemark.svg
usr/share/man/man1/brindlemark.1.gz
usr/share/mime/packages/brindlemark.xml"
expected_cli="usr/bin/brindlemark-cli
usr/bin/brindlemark-target-sim
usr/share/bash-completion/completions/brindlemark-cli
usr/share/brindlemark/loaders/README.md
usr/share/doc/brindlemark-cli/brindlemark-cli.schema.json
usr/share/doc/brindlemark-cli/changelog.gz
usr/share/doc/brindlemark-cli/cli.md
usr/share/doc/brindlemark-cli/copyright
usr/share/doc/brindlemark-cli/loader.md
usr/share/doc/brindlemark-cli/records.md
usr/share/man/man1/brindlemark-cli.1.gz
usr/share/man/man1/brindlemark-target-sim.1.gz"
[ "$(files_of "$window")" = "$expected_window" ] ||
  fail "brindlemark holds other files than its own:
$(diff <(echo "$expected_window") <(files_of "$window") || true)"
[ "$(files_of "$cli" | grep -v '^usr/share/brindlemark/loaders/brindlemark-loader-.*\.hex$')" = "$expected_cli" ] ||
  fail "brindlemark-cli holds other files than its own:
$(diff <(echo "$expected_cli") <(files_of "$cli" | grep -v 'loaders/brindlemark-loader-') || true)"
both=$(comm -12 <(files_of "$window") <(files_of "$cli"))
[ -z "$both" ] || fail "files in both packages: $both"
loaders=$(find "$cli/usr/share/brindlemark/loaders/" -maxdepth 1 -name 'brindlemark-loader-*.hex' | wc -l)
[ "$loaders" -eq 26 ] || fail "usr/share/brindlemark/loaders holds $loaders loader images, not 26"

for p in "$window"/usr/bin/* "$cli"/usr/bin/*; do
  sections=$(readelf -S "$p")
  ! grep -q '\.symtab' <<<"$sections" || fail "$p is not stripped"
  page=$(dirname "$(dirname "$p")")/share/man/man1/$(basename "$p").1.gz
  warnings=$(zcat "$page" | groff -man -ww -z -Tutf8 2>&1)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done

desktop-file-validate "$window/usr/share/applications/brindlemark.desktop"
for copyright in "$window/usr/share/doc/brindlemark/copyright" "$cli/usr/share/doc/brindlemark-cli/copyright"; do
  grep -q '^License: MIT$' "$copyright" || fail "$(basename "$(dirname "$copyright")")'s copyright file names no MIT license"
done
# brindlemark-cli compiles CLI11's headers in: their license must come with it.
grep -q '^License: BSD-3-clause$' "$cli/usr/share/doc/brindlemark-cli/copyright" ||
  fail "brindlemark-cli's copyright file lacks CLI11's BSD-3-clause license"
[ "$(zcat "$window/usr/share/doc/brindlemark/changelog.gz" | head -n 1 | cut -d' ' -f1-2)" = "brindlemark ($version)" ] ||
  fail "brindlemark's changelog does not begin with brindlemark ($version)"
[ "$(zcat "$cli/usr/share/doc/brindlemark-cli/changelog.gz" | head -n 1 | cut -d' ' -f1-2)" = "brindlemark-cli ($version)" ] ||
  fail "brindlemark-cli's changelog does not begin with brindlemark-cli ($version)"
# Our pack globs must not take *.pac from proxy auto-config files (nor *.pack from pack200).
grep -q '<glob pattern="\*.pac" weight="10"/>' "$window/usr/share/mime/packages/brindlemark.xml" ||
  fail "the *.pac glob has no low weight"

# No lintian errors, in either package.
if command -v lintian >/dev/null; then
  for deb in "$window_deb" "$cli_deb"; do
    errors=$(lintian "$deb" 2>/dev/null | grep '^E:' || true)
    [ -z "$errors" ] || fail "lintian: $errors"
  done
fi

# The completion offers the loadable files for FILE, and not the others beside them.
offered=$(
  cd examples/blink
  # shellcheck source=/dev/null
  source "$cli/usr/share/bash-completion/completions/brindlemark-cli"
  COMP_WORDS=(brindlemark-cli download "blink.")
  COMP_CWORD=2
  _brindlemark_cli
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
)
[ "$offered" = "blink.eep blink.hex blink.ppro " ] || fail "completion of FILE offered '$offered'"

# Each package's programs run from its own unpacked tree: the command line finds its loaders
# without the window's package.
"$window/usr/bin/brindlemark" --version
"$cli/usr/bin/brindlemark-cli" --version
"$cli/usr/bin/brindlemark-cli" loaders >/dev/null || fail "brindlemark-cli loaders finds no loaders in its package"
"$cli/usr/bin/brindlemark-cli" load examples/blink/blink.ppro
"$cli/usr/bin/brindlemark-cli" download examples/blink/blink.ppro --port sim
sim_version=$("$cli/usr/bin/brindlemark-target-sim" --version)
echo "$sim_version"
grep -q '^License: MIT$' <<<"$sim_version" || fail "brindlemark-target-sim --version names no MIT license"

# Last, as it fails while brindlemark-cli still links Qt: the command line's package names no Qt
# package, and nothing apt would install for it does either.
names=$(sed 's/([^)]*)//g; s/[|,]/\n/g' <<<"$cli_depends" | tr -d ' ' | grep -v '^$' | sort -u)
echo "apt-cache depends --recurse --no-recommends --no-suggests (of brindlemark-cli's Depends) | grep -i qt:"
# shellcheck disable=SC2086
qt=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks --no-replaces \
  --no-enhances $names 2>/dev/null | grep -i 'qt' | sed 's/^ *//' | sort -u || true)
echo "${qt:-  (none)}"
cli_qt=$(grep -i 'qt' <<<"${cli_depends//, /$'\n'}" || true)
[ -z "$cli_qt" ] || fail "brindlemark-cli depends on Qt: $(tr '\n' ' ' <<<"$cli_qt")"
[ -z "$qt" ] || fail "a dependency of brindlemark-cli brings Qt in: $(tr '\n' ' ' <<<"$qt")"
echo "packages checked"

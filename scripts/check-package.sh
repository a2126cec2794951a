#!/usr/bin/env bash
# Builds the Debian package from the default build (or takes the .deb given) and checks it: its
# Depends, that it holds the three programs, stripped, and nothing else in bin, no libexec
# folder, the manual pages, the desktop entry, the completion and the
# copyright; then runs the unpacked programs against the system's libraries.
#
#   scripts/check-package.sh [PACKAGE.deb]
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -ge 1 ]; then
  deb=$1
else
  cmake --build --preset default --target package >/dev/null
  deb=$(ls -t build/brindlemark_*.deb | head -n 1)
fi
echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"

fail() {
  echo "check-package: $*" >&2
  exit 1
}

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
[ -n "$depends" ] || fail "the package has no Depends"
grep -q 'libqt6' <<<"$depends" || fail "Depends names no libqt6 package"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

[ -z "$(cd "$root" && find . -mindepth 1 -maxdepth 1 ! -name usr)" ] || fail "files outside /usr"
programs=$(ls "$root/usr/bin" | tr '\n' ' ')
[ "$programs" = "brindlemark brindlemark-cli brindlemark-target-sim " ] ||
  fail "usr/bin holds '$programs', not just the three programs"
[ ! -e "$root/usr/libexec" ] || fail "the package holds usr/libexec"
for p in "$root"/usr/bin/*; do
  sections=$(readelf -S "$p")
  ! grep -q '\.symtab' <<<"$sections" || fail "$p is not stripped"
  page=$root/usr/share/man/man1/$(basename "$p").1.gz
  [ -f "$page" ] || fail "no manual page for $(basename "$p")"
  warnings=$(zcat "$page" | groff -man -ww -z -Tutf8 2>&1)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done

desktop-file-validate "$root/usr/share/applications/brindlemark.desktop"
[ -f "$root/usr/share/icons/hicolor/scalable/apps/brindlemark.svg" ] || fail "no icon"
grep -q '^License: MIT$' "$root/usr/share/doc/brindlemark/copyright" || fail "the copyright file names no MIT license"
loaders=$(ls "$root/usr/share/brindlemark/loaders/" | grep -c '^brindlemark-loader-.*\.hex$' || true)
[ "$loaders" -eq 26 ] || fail "usr/share/brindlemark/loaders holds $loaders loader images, not 26"
[ -f "$root/usr/share/brindlemark/loaders/README.md" ] || fail "no README beside the loaders"
"$root/usr/bin/brindlemark-cli" loaders >/dev/null || fail "brindlemark-cli loaders finds no loaders in the package"
for doc in cli.md brindlemark-cli.schema.json changelog.gz loader.md; do
  [ -f "$root/usr/share/doc/brindlemark/$doc" ] || fail "no $doc in usr/share/doc/brindlemark"
done
# Our pack globs must not take *.pac from proxy auto-config files (nor *.pack from pack200).
grep -q '<glob pattern="\*.pac" weight="10"/>' "$root/usr/share/mime/packages/brindlemark.xml" ||
  fail "the *.pac glob has no low weight"

# No lintian errors (its warnings are listed in the closing note of the package's issue).
if command -v lintian >/dev/null; then
  errors=$(lintian "$deb" 2>/dev/null | grep '^E:' || true)
  [ -z "$errors" ] || fail "lintian: $errors"
fi

# The completion offers the loadable files for FILE, and not the others beside them.
offered=$(
  cd examples/blink
  # shellcheck source=/dev/null
  source "$root/usr/share/bash-completion/completions/brindlemark-cli"
  COMP_WORDS=(brindlemark-cli download "blink.")
  COMP_CWORD=2
  _brindlemark_cli
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
)
[ "$offered" = "blink.eep blink.hex blink.ppro " ] || fail "completion of FILE offered '$offered'"

"$root/usr/bin/brindlemark" --version
"$root/usr/bin/brindlemark-cli" --version
"$root/usr/bin/brindlemark-cli" load examples/blink/blink.ppro
"$root/usr/bin/brindlemark-cli" download examples/blink/blink.ppro --port sim
version=$("$root/usr/bin/brindlemark-target-sim" --version)
echo "$version"
grep -q '^License: MIT$' <<<"$version" || fail "brindlemark-target-sim --version names no MIT license"
echo "package checked"

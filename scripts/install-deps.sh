#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Idempotent: packages already present are not touched, and nothing is printed when all is there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
  libgtest-dev libgmock-dev nlohmann-json3-dev libssl-dev libcli11-dev libudev-dev
  libsqlite3-dev libpq-dev libfmt-dev postgresql-15
  clang clang-format libclang-rt-14-dev
  gcc-avr avr-libc binutils-avr simavr libsimavr-dev libelf-dev srecord
  xvfb xauth
  dpkg-dev desktop-file-utils groff-base lintian
  python3 python3-jsonschema
  g++-mingw-w64-x86-64-posix wine wine64 nsis
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
# The record's tests start PostgreSQL clusters of their own: the package need not make one.
if [[ " ${missing[*]} " == *" postgresql-15 "* ]] && ! grep -qs '^create_main_cluster' /etc/postgresql-common/createcluster.conf; then
  "${sudo_cmd[@]}" mkdir -p /etc/postgresql-common
  echo 'create_main_cluster = false' | "${sudo_cmd[@]}" tee -a /etc/postgresql-common/createcluster.conf >/dev/null
fi
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

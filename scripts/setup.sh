#!/usr/bin/env bash
# Brings a Debian 12 machine to everything the two builds and the tests need.
# Does nothing when everything is present already.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  googletest libgtest-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32 xvfb x11-utils imagemagick
)

have_all() {
  dpkg --print-foreign-architectures | grep -qx i386 || return 1
  local p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || return 1
  done
}

if have_all; then
  exit 0
fi

SUDO=
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive

dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${packages[@]}"

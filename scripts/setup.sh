#!/usr/bin/env bash
# Brings a Debian 12 machine to everything the two builds and the tests need.
# Does nothing when everything is present already.
set -euo pipefail

# 64-bit Wine only: these machines cannot execute 32-bit code, so the
# Windows tests run from the x86_64 build (see README).
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  googletest libgtest-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  wine wine64 xvfb x11-utils imagemagick
)

have_all() {
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

$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${packages[@]}"

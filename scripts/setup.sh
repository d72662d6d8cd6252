#!/usr/bin/env bash
# Brings a Debian 12 machine to everything the builds and the tests need.
# Does nothing when everything is present already.
set -euo pipefail

# wine32 installs on every machine; whether it can execute depends on the
# kernel (IA-32 emulation), which test.sh finds out by running it once.
# fonts-wine: Wine's own fonts, which draw the title-bar buttons (Marlett).
# tshark: reads the bus monitor's capture files back in the tests.
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  googletest libgtest-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  wine wine64 wine32:i386 fonts-wine xvfb x11-utils imagemagick
  fp-utils tshark
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

# tshark asks whether ordinary users may capture; the tests only read files.
echo "wireshark-common wireshark-common/install-setuid boolean false" |
  $SUDO debconf-set-selections

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${packages[@]}"

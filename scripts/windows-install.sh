#!/usr/bin/env bash
# Installs what the Windows build and its tests under Wine need, skipping
# whatever is already there: the mingw-w64 cross compiler for 32-bit Windows,
# the GoogleTest sources, and 32-bit Wine (which needs the i386 architecture).
# Run as root on Debian; a second run does nothing. Takes about half a minute
# on a fresh machine.
set -eu

need_i386=0
packages=()

have_package() {
  dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q '^install ok installed$'
}

have_package g++-mingw-w64-i686 || packages+=(g++-mingw-w64-i686)
have_package googletest || packages+=(googletest)
have_package wine || packages+=(wine)
if ! have_package wine32:i386; then
  packages+=(wine32:i386)
  need_i386=1
fi

if [ ${#packages[@]} -eq 0 ]; then
  echo "windows-install: everything is installed"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "windows-install: missing ${packages[*]}; run this script as root to install them" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if [ "$need_i386" -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
echo "windows-install: installing ${packages[*]}"
apt-get update -qq
apt-get install -y -qq "${packages[@]}" >/dev/null
echo "windows-install: done"

#!/usr/bin/env bash
# Installs what building and testing quarnrept_migrate needs on a Debian machine:
# the mingw-w64 cross compilers (32- and 64-bit), CMake, GoogleTest sources, Wine
# with both loaders, Xvfb and chmcmd.
# Packages already present are left alone, so a second run costs a few seconds.
set -euo pipefail

need=(
  g++-mingw-w64-i686-posix
  g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-i686
  binutils-mingw-w64-x86-64
  cmake
  make
  googletest
  xvfb
  xauth
  x11-utils
  imagemagick
  fp-utils
  wine
  wine32:i386
  wine64
  ninja-build
)

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  added_arch=1
fi

missing=()
for p in "${need[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: everything is installed"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"

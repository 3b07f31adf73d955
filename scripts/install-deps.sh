#!/usr/bin/env bash
# Installs what building and testing quarnrept_migrate needs on a Debian machine:
# the mingw-w64 cross compilers (32- and 64-bit), CMake, GoogleTest sources, Wine
# with both loaders, Xvfb, chmcmd, and python3 for the tests' swap race.
# Packages already present are left alone, so a second run costs a few seconds.
set -euo pipefail

# Set by a caller that has already run this script (.ci/run): the scripts it
# starts would otherwise try the mirror again, retries and all.
if [ -n "${QM_DEPS_CHECKED:-}" ]; then exit 0; fi

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
  python3
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
# A mirror in the middle of a sync makes "apt-get update" fail for one index
# (seen here: the security archive's i386 list, for hours); try again a few
# times, then go on with what did arrive.
for attempt in 1 2 3; do
  if $SUDO apt-get update -qq; then break; fi
  echo "install-deps: apt-get update failed (attempt $attempt)"
  [ "$attempt" = 3 ] || sleep 15
done
if $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
  echo "install-deps: done"
  exit 0
fi
# Without a current i386 index, wine32 cannot match the versions of the 64-bit
# libraries it shares with wine64. The 64-bit variant needs none of it: install
# the rest, and the scripts then find no 32-bit loader and say so.
rest=()
for p in "${missing[@]}"; do
  case "$p" in *:i386) ;; *) rest+=("$p") ;; esac
done
if [ ${#rest[@]} -eq ${#missing[@]} ]; then
  echo "install-deps: apt-get install failed" >&2
  exit 1
fi
echo "install-deps: the i386 packages could not be installed; installing the rest, for the 64-bit variant only"
if [ ${#rest[@]} -gt 0 ]; then
  $SUDO apt-get install -y -qq --no-install-recommends "${rest[@]}" >/dev/null
fi
echo "install-deps: done, without 32-bit Wine"

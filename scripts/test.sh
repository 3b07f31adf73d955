#!/usr/bin/env bash
# The README's test command: installs what is missing, builds, and runs every
# test under Wine and Xvfb. Extra arguments go to ctest (for example -R trace).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${QM_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
QM_BUILD_DIR="$build" "$root/scripts/build.sh"
"$root/scripts/with-wine.sh" "$build/wineprefix" -- \
  ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "$@"

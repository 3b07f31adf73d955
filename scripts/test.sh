#!/usr/bin/env bash
# The README's test command: installs what is missing, builds, and runs every
# test under Wine and Xvfb. Extra arguments go to ctest (for example -R trace).
#
# Two passes: every test in a 32-bit prefix, except those labelled wow64, which
# need the 32-bit program to run under WOW64 and so get a 64-bit prefix of
# their own. The second pass is skipped when the ctest arguments select none.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${QM_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
QM_BUILD_DIR="$build" "$root/scripts/build.sh"

# Listing the tests runs the test programs, so it needs a prefix: count the
# selected wow64 tests while the 32-bit one is up.
wow64_count=$(mktemp)
trap 'rm -f "$wow64_count"' EXIT
status=0
"$root/scripts/with-wine.sh" "$build/wineprefix" -- bash -c '
  build=$1 count=$2; shift 2
  rc=0
  ctest --test-dir "$build" --output-on-failure -j "$(nproc)" -LE wow64 "$@" || rc=$?
  ctest --test-dir "$build" -N -L wow64 "$@" | sed -n "s/^Total Tests: //p" >"$count" || true
  exit $rc' bash "$build" "$wow64_count" "$@" || status=$?

if [ "$(cat "$wow64_count")" != 0 ]; then
  "$root/scripts/with-wine.sh" --arch win64 "$build/wineprefix64" -- \
    ctest --test-dir "$build" --output-on-failure -j "$(nproc)" -L wow64 "$@" || status=$?
fi
exit $status

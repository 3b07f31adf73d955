#!/usr/bin/env bash
# The README's test command: installs what is missing, builds, and runs every
# test under Wine and Xvfb. Extra arguments go to ctest (for example -R trace).
#
# Where this kernel runs 32-bit programs (or with QM_ARCH=win32): the 32-bit
# tool, in two passes: every test in a 32-bit prefix, except those labelled
# wow64, which need the 32-bit program to run under WOW64 and so get a 64-bit
# prefix of their own (skipped when the ctest arguments select none).
#
# Elsewhere (or with QM_ARCH=win64): the 64-bit variant, every test in one
# 64-bit prefix; the wow64 tests report themselves skipped there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/arch.sh"
"$root/scripts/install-deps.sh"
qm_select_arch test
build=$(qm_build_dir "$root" "$QM_ARCH")
"$root/scripts/build.sh"

if [ "$QM_ARCH" = win64 ]; then
  exec "$root/scripts/with-wine.sh" --arch win64 --loader64 "$build/wineprefix" -- \
    ctest --test-dir "$build" --output-on-failure -j "$(nproc)" "$@"
fi

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

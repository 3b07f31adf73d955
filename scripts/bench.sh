#!/usr/bin/env bash
# Builds and runs every benchmark under Wine; each prints its own figures.
# The variant follows QM_ARCH, as in scripts/test.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/arch.sh"
"$root/scripts/install-deps.sh"
qm_select_arch bench
build=$(qm_build_dir "$root" "$QM_ARCH")
"$root/scripts/build.sh"
run_all() {
  for b in "$build"/bench/*_bench.exe; do
    echo "== $(basename "$b" .exe) ($QM_ARCH)"
    wine "$b"
  done
}
export -f run_all
export build
loader=()
[ "$QM_ARCH" = win64 ] && loader=(--loader64)
"$root/scripts/with-wine.sh" --arch "$QM_ARCH" "${loader[@]}" "$build/wineprefix-bench" -- bash -c run_all

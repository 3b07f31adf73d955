#!/usr/bin/env bash
# Builds and runs every benchmark under Wine; each prints its own figures.
# The variant follows QM_ARCH, as in scripts/test.sh. Names given (refresh,
# migrate, ...) run only those benchmarks, in that order.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/arch.sh"
"$root/scripts/install-deps.sh"
qm_select_arch bench
build=$(qm_build_dir "$root" "$QM_ARCH")
"$root/scripts/build.sh"
run_all() {
  local status=0
  for b in "$@"; do
    echo "== $(basename "$b" .exe) ($QM_ARCH, $(date -u +%Y-%m-%d))"
    wine "$b" || status=$?
  done
  return $status
}
export -f run_all
export build
benches=()
if [ $# -eq 0 ]; then
  benches=("$build"/bench/*_bench.exe)
else
  for name in "$@"; do benches+=("$build/bench/${name}_bench.exe"); done
fi
loader=()
[ "$QM_ARCH" = win64 ] && loader=(--loader64)
"$root/scripts/with-wine.sh" --arch "$QM_ARCH" "${loader[@]}" "$build/wineprefix-bench" -- bash -c 'run_all "$@"' bash "${benches[@]}"

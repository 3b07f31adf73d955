#!/usr/bin/env bash
# Builds and runs every benchmark under Wine; each prints its own figures.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${QM_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
QM_BUILD_DIR="$build" "$root/scripts/build.sh"
run_all() {
  for b in "$build"/bench/*_bench.exe; do
    echo "== $(basename "$b" .exe)"
    wine "$b"
  done
}
export -f run_all
export build
"$root/scripts/with-wine.sh" "$build/wineprefix-bench" -- bash -c run_all

#!/usr/bin/env bash
# Configures and builds the tool, its tests and benchmarks. QM_ARCH chooses the
# variant: win32 (the default, what ships) into build/, or win64 into
# build-win64/ (or $QM_BUILD_DIR and $QM_BUILD_DIR-win64). Cross-compiling
# needs no kernel support for either.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/arch.sh"
arch="${QM_ARCH:-win32}"
build=$(qm_build_dir "$root" "$arch")
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" "${generator[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$(qm_toolchain "$root" "$arch")" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --parallel "$(nproc)"

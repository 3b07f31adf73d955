#!/usr/bin/env bash
# The README's run command. For now it builds the tool and says what it built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${QM_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
QM_BUILD_DIR="$build" "$root/scripts/build.sh"
echo "built:"
find "$build" -maxdepth 3 -name '*.exe' -newer "$root/CMakeLists.txt" -printf '  %P\n' | sort

#!/usr/bin/env bash
# Builds the tool and packs what ships into a ZIP with CPack: the exe, its help
# file and the user's guide. Prints the ZIP's path and what it holds, and fails
# if anything else (a stand-in console DLL, a test or benchmark) got in.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/arch.sh"
# What ships is the 32-bit tool, whatever this kernel runs: cross-compiling
# needs no 32-bit support from it.
build=$(qm_build_dir "$root" win32)
"$root/scripts/install-deps.sh"
QM_ARCH=win32 "$root/scripts/build.sh"

(cd "$build" && cpack -G ZIP >/dev/null)
name=$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
zip="$build/$name.zip"
if [ ! -f "$zip" ]; then
  echo "package: $zip was not made" >&2
  exit 1
fi

listing=$(cmake -E tar tf "$zip")
for want in quarnrept_migrate.exe quarnrept_migrate.chm USER-GUIDE.txt; do
  if ! grep -qx "$name/$want" <<<"$listing"; then
    echo "package: $want is missing from $zip" >&2
    exit 1
  fi
done
if grep -Eiv "^$name/(quarnrept_migrate\.exe|quarnrept_migrate\.chm|USER-GUIDE\.txt)?$" <<<"$listing"; then
  echo "package: the files above do not belong in $zip" >&2
  exit 1
fi

echo "$zip"
if command -v unzip >/dev/null 2>&1; then
  unzip -l "$zip"
else
  cmake -E tar tvf "$zip"
fi

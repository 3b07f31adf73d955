# Sourced by the other scripts: which variant of the tool to build and run here,
# where it is built, and how Wine is started for it.
#
# The tool ships as a 32-bit program. Some x86-64 kernels execute no 32-bit
# programs at all (Wine's 32-bit loader fails with "Exec format error"); there
# the scripts build a 64-bit variant of the tool, its stand-ins, tests and
# benchmarks instead and run it in a 64-bit prefix. QM_ARCH=win32 or win64
# chooses by hand.

QM_WINE32_LOADER=/usr/lib/wine/wine
QM_WINE64_LOADER=/usr/lib/wine/wine64

# True when this kernel runs Wine's 32-bit loader.
qm_kernel_runs_32bit() {
  "$QM_WINE32_LOADER" --version >/dev/null 2>&1
}

# qm_select_arch NAME: sets QM_ARCH to win32 or win64 (from QM_ARCH when set,
# else from what this kernel runs) and says in one line when it falls back to
# the 64-bit variant. Fails when QM_ARCH asks for what cannot run here.
qm_select_arch() {
  local name=$1
  case "${QM_ARCH:-}" in
    win32)
      if ! qm_kernel_runs_32bit; then
        echo "$name: QM_ARCH=win32, but this kernel runs no 32-bit programs ($QM_WINE32_LOADER --version fails); use QM_ARCH=win64 or leave QM_ARCH unset" >&2
        return 1
      fi ;;
    win64) ;;
    "")
      if qm_kernel_runs_32bit; then
        QM_ARCH=win32
      else
        QM_ARCH=win64
        echo "$name: no 32-bit Wine program runs here ($QM_WINE32_LOADER --version fails); using the 64-bit variant of the tool in a 64-bit Wine prefix"
      fi ;;
    *)
      echo "$name: QM_ARCH must be win32 or win64, not '$QM_ARCH'" >&2
      return 1 ;;
  esac
  export QM_ARCH
}

# qm_build_dir ROOT ARCH: the build folder of that variant. The 64-bit one
# has a folder of its own, so both can stand side by side.
qm_build_dir() {
  local base="${QM_BUILD_DIR:-$1/build}"
  if [ "$2" = win64 ]; then echo "$base-win64"; else echo "$base"; fi
}

# qm_toolchain ROOT ARCH: the CMake toolchain file of that variant.
qm_toolchain() {
  if [ "$2" = win64 ]; then echo "$1/cmake/mingw-w64-x86_64.cmake"; else echo "$1/cmake/mingw-w64-i686.cmake"; fi
}

# qm_wine_env ARCH PREFIX [LOADER]: exports what every Wine start of a run
# needs. LOADER 64 makes every `wine` (and the wrappers that call wine-stable:
# wineboot, regedit) use the 64-bit loader: Debian's wrapper prefers the
# 32-bit one whenever it is installed, even where the kernel cannot run it.
qm_wine_env() {
  local arch=$1 prefix=$2 loader=${3:-}
  export WINEPREFIX="$prefix"
  export WINEARCH="$arch"
  export WINEDEBUG=-all
  # Otherwise Wine may offer to install Mono or Gecko and wait for an answer.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  # "C" gives en-US with OEM code page 437, the same on every machine; its
  # UTF-8 form lets Wine give files names beyond ASCII.
  export LC_ALL=C.UTF-8 LANG=C.UTF-8
  if [ "$loader" = 64 ]; then
    local shim="$prefix.bin"
    mkdir -p "$shim"
    for name in wine wine-stable; do
      printf '#!/bin/sh\nexec %s "$@"\n' "$QM_WINE64_LOADER" >"$shim/$name"
      chmod +x "$shim/$name"
    done
    export WINELOADER="$QM_WINE64_LOADER"
    case ":$PATH:" in *":$shim:"*) ;; *) export PATH="$shim:$PATH" ;; esac
  fi
}

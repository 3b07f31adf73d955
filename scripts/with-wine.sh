#!/usr/bin/env bash
# with-wine.sh [--arch win32|win64] [--keep-prefix] PREFIX -- COMMAND [ARGS...]
#
# Runs COMMAND with a Wine prefix and a display of its own:
#   - starts Xvfb on a free display (Wine's desktop process keeps the display it
#     was started with, so the display comes up before the prefix),
#   - creates the prefix anew (or reuses it with --keep-prefix),
#   - keeps one persistent wineserver for the whole command, so each Windows
#     process starts in a fraction of a second,
#   - stops the wineserver and Xvfb when the command ends, however it ends.
# Nothing of ~/.wine is touched.
set -euo pipefail

arch=win32
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch="$2"; shift 2 ;;
    --keep-prefix) keep=1; shift ;;
    --) shift; break ;;
    -*) echo "with-wine: unknown option $1" >&2; exit 2 ;;
    *) prefix="$1"; shift ;;
  esac
done
if [ -z "${prefix:-}" ] || [ $# -eq 0 ]; then
  echo "usage: with-wine.sh [--arch win32|win64] [--keep-prefix] PREFIX -- COMMAND [ARGS...]" >&2
  exit 2
fi

mkdir -p "$(dirname "$prefix")"
prefix="$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")"

export WINEPREFIX="$prefix"
export WINEARCH="$arch"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# "C" gives en-US with OEM code page 437, the same on every machine.
export LC_ALL=C LANG=C

xvfb_pid=""
cleanup() {
  local rc=$?
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" >/dev/null 2>&1 || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Xvfb picks a free display itself and reports it on the descriptor we give it.
displayfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -ac 3>"$displayfile" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
  [ -s "$displayfile" ] && break
  sleep 0.1
done
if [ ! -s "$displayfile" ]; then
  echo "with-wine: Xvfb did not start" >&2
  exit 1
fi
export DISPLAY=":$(head -n1 "$displayfile")"
rm -f "$displayfile"

if [ "$keep" = 0 ] || [ ! -f "$prefix/system.reg" ]; then
  rm -rf "$prefix"
  mkdir -p "$prefix"
  wineserver -p
  start=$(date +%s)
  wineboot -i >/dev/null 2>&1
  echo "with-wine: created $arch prefix $prefix in $(( $(date +%s) - start )) s"
else
  wineserver -p
  # Start the prefix's services now, with their output going nowhere: the first
  # Windows process of a session starts them, and they would otherwise hold
  # that process's output pipe open (CTest waits for it to close).
  wineboot >/dev/null 2>&1
fi

"$@"

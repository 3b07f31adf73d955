#!/usr/bin/env bash
# with-wine.sh [--arch win32|win64] [--loader64] [--keep-prefix] PREFIX -- COMMAND [ARGS...]
#
# Runs COMMAND with a Wine prefix and a display of its own:
#   - with --loader64, every Wine start uses the 64-bit loader (for the 64-bit
#     variant of the tool, and the only way on a kernel that runs no 32-bit
#     programs),
#   - starts Xvfb on a free display (Wine's desktop process keeps the display it
#     was started with, so the display comes up before the prefix),
#   - creates the prefix anew (or reuses it with --keep-prefix),
#   - keeps one persistent wineserver for the whole command, so each Windows
#     process starts in a fraction of a second,
#   - stops the wineserver and Xvfb when the command ends, however it ends.
# Nothing of ~/.wine is touched.
set -euo pipefail

arch=win32
loader=""
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch="$2"; shift 2 ;;
    --loader64) loader=64; shift ;;
    --keep-prefix) keep=1; shift ;;
    --) shift; break ;;
    -*) echo "with-wine: unknown option $1" >&2; exit 2 ;;
    *) prefix="$1"; shift ;;
  esac
done
if [ -z "${prefix:-}" ] || [ $# -eq 0 ]; then
  echo "usage: with-wine.sh [--arch win32|win64] [--loader64] [--keep-prefix] PREFIX -- COMMAND [ARGS...]" >&2
  exit 2
fi

mkdir -p "$(dirname "$prefix")"
prefix="$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")"

. "$(dirname "$0")/arch.sh"
qm_wine_env "$arch" "$prefix" "$loader"

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

# step WHAT COMMAND...: runs a step of bringing Wine up, its output going
# nowhere; a failure ends the script with one line naming the step.
step() {
  local what=$1 rc=0
  shift
  "$@" >/dev/null 2>&1 || rc=$?
  if [ "$rc" != 0 ]; then
    echo "with-wine: $what failed: '$*' exited with status $rc" >&2
    exit "$rc"
  fi
}

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -ac 3>"$displayfile" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
  [ -s "$displayfile" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.1
done
if [ ! -s "$displayfile" ]; then
  xvfb_status="still running after 10 s"
  if ! kill -0 "$xvfb_pid" 2>/dev/null; then
    rc=0
    wait "$xvfb_pid" || rc=$?
    xvfb_status="exit status $rc"
    xvfb_pid=""
  fi
  echo "with-wine: starting the virtual display failed: Xvfb gave no display number ($xvfb_status)" >&2
  exit 1
fi
export DISPLAY=":$(head -n1 "$displayfile")"
rm -f "$displayfile"

if [ "$keep" = 0 ] || [ ! -f "$prefix/system.reg" ]; then
  rm -rf "$prefix"
  mkdir -p "$prefix"
  step "starting the wineserver" wineserver -p
  start=$(date +%s)
  step "creating the $arch prefix $prefix" wineboot -i
  echo "with-wine: created $arch prefix $prefix in $(( $(date +%s) - start )) s"
else
  step "starting the wineserver" wineserver -p
  # Start the prefix's services now, with their output going nowhere: the first
  # Windows process of a session starts them, and they would otherwise hold
  # that process's output pipe open (CTest waits for it to close).
  step "starting the $arch prefix $prefix" wineboot
fi

"$@"

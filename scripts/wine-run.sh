#!/bin/sh
# Runs one Windows executable under Wine, in the prefix of the current test run.
# CTest uses this as the emulator of every test executable; scripts/with-wine.sh
# creates the prefix, starts the display and keeps one wineserver for the run.
if [ -z "${WINEPREFIX:-}" ] || [ ! -d "$WINEPREFIX/drive_c" ]; then
  echo "wine-run: no test prefix is up; run the tests through scripts/test.sh or scripts/with-wine.sh" >&2
  exit 2
fi
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"

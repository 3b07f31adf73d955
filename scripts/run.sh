#!/usr/bin/env bash
# The README's run command: builds the tool and runs it against a sample beta
# and 5.2.2 installation in a Wine prefix of its own (<build>/sample-prefix,
# made afresh on every run; nothing of ~/.wine is touched).
#
# With a usable display the tool opens on it and is yours to try; closing it
# ends the run. Without one (or with QM_HEADLESS=1, or when CI is set) a
# scripted run takes place on a virtual display: a driver program works the
# tool as an administrator would (refresh, Migrate, Yes, OK, Done), the
# screenshots go to docs/images/, and a summary of what was migrated is printed.
#
# QM_BUILD_DIR chooses the build directory (default: build/). On a kernel that
# runs no 32-bit programs (or with QM_ARCH=win64) the 64-bit variant of the
# tool runs, in a 64-bit prefix, from build-win64/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/arch.sh"
if [ "${1:-}" != "--headless-steps" ]; then
  "$root/scripts/install-deps.sh"
  qm_select_arch run
fi
build=$(qm_build_dir "$root" "$QM_ARCH")
mkdir -p "$build"
build=$(cd "$build" && pwd)
prefix="$build/sample-prefix"

caption="Operational Reporting Beta to 5.2.2 Migration Tool"
tool_dir_win='C:\Program Files\Ostrel\quarnrept_migrate'
tool_exe_win="$tool_dir_win\\quarnrept_migrate.exe"
desktop=quarnrept
desktop_size=800x480

# Copies the tool and its help file into the prefix, the way an administrator
# would put them on the server; prints the Unix path of that directory.
install_tool() {
  local dir="$WINEPREFIX/drive_c/Program Files/Ostrel/quarnrept_migrate"
  mkdir -p "$dir"
  cp "$build/bin/quarnrept_migrate.exe" "$build/bin/quarnrept_migrate.chm" "$dir/"
  echo "$dir"
}

# ---------------------------------------------------------------------------
# The scripted run. Runs inside scripts/with-wine.sh, which provides Xvfb, the
# fresh prefix and its wineserver, and stops them afterwards.
headless_steps() {
  local quarn="$WINEPREFIX/drive_c/Program Files/Ostrel/Quarn"
  local images="$root/docs/images"
  local log="$build/sample-run.log"
  local driver="$build/demo_driver/demo_driver.exe"
  mkdir -p "$images"
  : >"$log"

  "$root/scripts/sample-install.sh" "$WINEPREFIX" "$build/standin_console"

  # Every Windows process of this prefix shares one virtual desktop: it draws
  # the window frames and captions itself (there is no window manager on
  # Xvfb), and the driver finds the tool's windows because it is on the same
  # desktop.
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d "$desktop" /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v "$desktop" /d "$desktop_size" /f >/dev/null 2>&1

  local tool_dir
  tool_dir=$(install_tool)

  drive() { wine "$driver" "$@" 2>>"$log"; }
  # Captures the virtual desktop and crops it to the tool's main window
  # (message boxes open over its middle, so they are inside too).
  shot() {
    sleep 0.5
    local window rect
    window=$(xwininfo -root -tree | awk -v name="\"$desktop - Wine desktop\"" 'index($0, name) { print $1; exit }')
    rect=$(drive rect)
    if [ -n "$window" ]; then
      import -window "$window" png:- | convert png:- -crop "$rect" +repage "$images/$1.png"
    else
      import -window root "$images/$1.png"
    fi
    echo "  screenshot: docs/images/$1.png"
  }

  # Started from its own directory, as a double click would: the help file
  # is found beside it and the trace file lands there too.
  echo "== starting the tool"
  (cd "$tool_dir" && exec wine "$tool_exe_win" >>"$log" 2>&1) &
  local tool_pid=$!

  drive wait-ready
  # The tool opens its help on start; it would cover the window.
  drive close-help
  shot main-window
  echo "== the list after the refresh"
  local before after
  before=$(drive list)
  echo "$before"

  local marker="$build/.sample-migrate-start"
  touch "$marker"
  echo "== migrating"
  local migrate_out
  migrate_out=$(drive migrate --leave-box)
  echo "$migrate_out"
  shot migration-done
  drive ack
  shot after-migration
  echo "== the list after the migration"
  after=$(drive list)
  echo "$after"
  drive close
  wait "$tool_pid" || true

  summary "$before" "$after" "$migrate_out" "$marker" "$quarn" "$tool_dir"
  rm -f "$marker"
}

# The encoding of a written file, and whether it holds what the beta file held.
describe_file() {
  local file=$1 beta=$2
  local mark
  mark=$(head -c 2 "$file" | od -An -tx1 | tr -d ' \n')
  if [ "$mark" = fffe ]; then
    # A sample of the text: its first line with a character above 127, else
    # its first line, cut by characters (hence a UTF-8 locale here).
    local LC_ALL=C.UTF-8 text first
    text=$(tail -c +3 "$file" | iconv -f UTF-16LE -t UTF-8 2>/dev/null | tr -d '\r')
    first=$(LC_ALL=C grep -m 1 $'[\x80-\xff]' <<<"$text" || head -n 1 <<<"$text")
    [ ${#first} -gt 40 ] && first="${first:0:37}..."
    local same=""
    if [ -n "$beta" ] && cmp -s <(tail -c +3 "$file" | iconv -f UTF-16LE -t UTF-8 2>/dev/null) \
                               <(iconv -f CP437 -t UTF-8 "$beta" 2>/dev/null); then
      same=", same text as the beta file in code page 437"
    fi
    echo "UTF-16LE (FF FE)$same: \"$first\""
  elif [ -n "$beta" ] && cmp -s "$file" "$beta"; then
    echo "bytes as copied, identical to the beta file"
  else
    echo "bytes as copied"
  fi
}

summary() {
  local before=$1 after=$2 migrate_out=$3 marker=$4 quarn=$5 tool_dir=$6
  local found migrated failed
  found=$(sed -n 's/^rows: \([0-9]*\),.*/\1/p' <<<"$before")
  migrated=$(sed -n 's/.*, migrated: \([0-9]*\),.*/\1/p' <<<"$after")
  failed=$(sed -n 's/.*, failed: \([0-9]*\)$/\1/p' <<<"$after")

  echo
  echo "================================ summary ================================"
  echo "rows found:     ${found:-?}"
  echo "rows migrated:  ${migrated:-?} (State \"Migrated\")"
  echo "failures:       ${failed:-?}"
  sed -n 's/^closing box: /closing box:    /p' <<<"$migrate_out"
  # The closing box names the run's backup folder; list what it holds.
  local backup backup_dir
  backup=$(sed -n 's/^closing box: .*What the migration replaced is kept in \(.*\)\. To put the 5\.2\.2 .*/\1/p' \
           <<<"$migrate_out")
  if [ -n "$backup" ]; then
    echo "backup folder:  $backup"
    backup_dir="$WINEPREFIX/drive_c/$(tr '\\' / <<<"${backup#C:\\}")"
    find "$backup_dir" -type f -printf '%P\t%s\n' | sort | while IFS=$'\t' read -r rel size; do
      printf '  %-40s %9s bytes\n' "${rel//\//\\}" "$size"
    done
  else
    echo "backup folder:  none named in the closing box"
  fi
  if [ "${failed:-0}" != 0 ]; then
    echo "failed rows:"
    grep -F 'Failed:' <<<"$after" | sed 's/^/  /'
  fi

  echo
  echo "files written into the 5.2.2 installation (C:\\Program Files\\Ostrel\\Quarn\\console):"
  local file rel name beta
  while IFS= read -r file; do
    rel=${file#"$quarn/console/"}
    name=$(basename "$rel")
    # Destination names are lower case; find the beta file whatever its case.
    beta=$(find "$quarn/console_reporting/$(dirname "$rel")" -maxdepth 1 -type f -iname "$name" 2>/dev/null | head -n 1)
    printf '  %-24s %6s bytes  %s\n' "${rel//\//\\}" "$(stat -c %s "$file")" "$(describe_file "$file" "$beta")"
  done < <(find "$quarn/console" -path "$quarn/console/migration backups" -prune -o -type f -newer "$marker" -print \
             | sort)

  local regfile="$quarn/console_reporting/quarnrept_mig.reg"
  if [ -f "$regfile" ]; then
    echo "registration file left in the beta directory: console_reporting\\quarnrept_mig.reg" \
         "($(describe_file "$regfile" ""))"
  fi

  echo
  echo "registry values now under HKLM\\SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\Console:"
  wine reg query 'HKLM\SOFTWARE\Norvale\Kelda\CurrentVersion\Console' /s 2>/dev/null \
    | tr -d '\r' | sed -e '/^$/d' -e 's/^HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\/  /' \
                       -e 's/^    /      /'

  echo
  echo "trace file:  $tool_dir/trace_quarnrept_migrate.txt (UTF-16LE)"
  echo "screenshots: docs/images/main-window.png, docs/images/migration-done.png, docs/images/after-migration.png"
  echo "Wine output: $build/sample-run.log"

  unattended_demo "$quarn" "$tool_dir"
}

# The same migration without a window, over a fresh sample installation, as a
# script on one of many servers would run it.
unattended_demo() {
  local quarn="$1" tool_dir="$2"
  wine reg delete 'HKLM\SOFTWARE\Norvale' /f >/dev/null 2>&1 || true
  rm -rf "$quarn"
  "$root/scripts/sample-install.sh" "$WINEPREFIX" "$build/standin_console" >/dev/null
  printf '@echo off\r\n"%s" /migrate /report:report.csv\r\necho exit code: %%errorlevel%%\r\n' \
    "$tool_exe_win" >"$tool_dir/unattended.cmd"
  echo
  echo "================================ unattended run ================================"
  echo "C:\\Program Files\\Ostrel\\quarnrept_migrate> quarnrept_migrate.exe /migrate /report:report.csv"
  (cd "$tool_dir" && wine cmd /c unattended.cmd 2>>"$build/sample-run.log" | tr -d '\r')
  echo
  echo "report.csv:"
  sed -e '1s/^\xEF\xBB\xBF//' -e 's/\r$//' -e 's/^/  /' "$tool_dir/report.csv"
}

# ---------------------------------------------------------------------------
# The run with the user's display: the tool is the user's until it is closed.
interactive_run() {
  # The sample's text files are in code page 437, the OEM code page of the
  # "C" locale (which this sets); another locale would read them with its own.
  qm_wine_env "$QM_ARCH" "$prefix" "$loader"
  rm -rf "$prefix"
  mkdir -p "$prefix"
  trap 'wineserver -k >/dev/null 2>&1 || true; wineserver -w >/dev/null 2>&1 || true' EXIT
  trap 'exit 130' INT TERM
  wineserver -p
  echo "run: creating the $QM_ARCH Wine prefix $prefix"
  local rc=0
  wineboot -i >/dev/null 2>&1 || rc=$?
  if [ "$rc" != 0 ]; then
    echo "run: creating the Wine prefix failed: 'wineboot -i' exited with status $rc" >&2
    exit "$rc"
  fi
  "$root/scripts/sample-install.sh" "$WINEPREFIX" "$build/standin_console"
  local tool_dir
  tool_dir=$(install_tool)
  echo "run: the tool is $tool_exe_win in the prefix"
  echo "run: its trace file will be $tool_dir/trace_quarnrept_migrate.txt"
  echo "run: the window \"$caption\" is yours; press Done to end"
  (cd "$tool_dir" && wine "$tool_exe_win") || true
  echo "run: the tool has ended; the prefix stays in $prefix"
  echo "run:   the 5.2.2 files:  $prefix/drive_c/Program Files/Ostrel/Quarn/console"
  echo "run:   its registry key: WINEPREFIX=$prefix wine reg query 'HKLM\\SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\Console' /s"
}

build_driver() {
  local generator=()
  command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
  if [ ! -f "$build/demo_driver/CMakeCache.txt" ]; then
    cmake -S "$root/tools/demo_driver" -B "$build/demo_driver" "${generator[@]}" \
      -DCMAKE_TOOLCHAIN_FILE="$(qm_toolchain "$root" "$QM_ARCH")" >/dev/null
  fi
  cmake --build "$build/demo_driver" >/dev/null
}

# ---------------------------------------------------------------------------

if [ "${1:-}" = "--headless-steps" ]; then
  headless_steps
  exit 0
fi

"$root/scripts/build.sh"
loader=""
[ "$QM_ARCH" = win64 ] && loader=64

headless=0
if [ "${QM_HEADLESS:-0}" = 1 ] || [ -n "${CI:-}" ] || [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  headless=1
fi

if [ "$headless" = 0 ]; then
  interactive_run
else
  echo "run: no display to show the tool on; a scripted run on a virtual display follows"
  build_driver
  start=$(date +%s)
  "$root/scripts/with-wine.sh" --arch "$QM_ARCH" ${loader:+--loader64} "$prefix" -- "$root/scripts/run.sh" --headless-steps
  echo "run: the scripted run took $(( $(date +%s) - start )) s"
fi

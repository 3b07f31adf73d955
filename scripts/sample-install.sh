#!/usr/bin/env bash
# sample-install.sh PREFIX [STANDIN_DIR]
#
# Lays out, in a running 32-bit Wine prefix, what the migration tool expects
# on an administrator's machine: the Quarn console with the 5.2.2 reporting
# add-on, the beta add-on beside it with files of every kind it migrates, and
# the registry keys of both. Run it inside scripts/with-wine.sh (a wineserver
# for PREFIX must be up).
#
# STANDIN_DIR holds the stand-ins for the console's own DLLs (exec_dll.dll,
# msg*u.dll); default: <build>/standin_console of $QM_BUILD_DIR or build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ $# -lt 1 ]; then
  echo "usage: sample-install.sh PREFIX [STANDIN_DIR]" >&2
  exit 2
fi
export WINEPREFIX
WINEPREFIX=$(cd "$1" && pwd)
standin="${2:-${QM_BUILD_DIR:-$root/build}/standin_console}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

for dll in exec_dll.dll msgengu.dll msgdeuu.dll; do
  if [ ! -f "$standin/$dll" ]; then
    echo "sample-install: $standin/$dll is missing (build first: scripts/build.sh)" >&2
    exit 1
  fi
done

quarn="$WINEPREFIX/drive_c/Program Files/Ostrel/Quarn"
beta="$quarn/console_reporting"
ga="$quarn/console"

# Text files of the beta are narrow text in the OEM code page (437 here) with
# CR LF line ends. `oem FILE LINE...` writes the lines; printf's %b turns the
# \xNN escapes in them into single bytes.
oem() {
  local file=$1
  shift
  : >"$file"
  local line
  for line in "$@"; do
    printf '%b\r\n' "$line" >>"$file"
  done
}

# ---------------------------------------------------------------------------
# The console with the 5.2.2 add-on: its own DLLs and the empty directories
# the add-on's installer leaves.
mkdir -p "$ga/web" "$ga/reports"
cp "$standin/exec_dll.dll" "$standin/msgengu.dll" "$standin/msgdeuu.dll" "$ga/"
oem "$ga/web/index.html" '<html><head><title>Quarn console</title></head>' \
  '<body><h1>Quarn console 5.2.2</h1></body></html>'

# ---------------------------------------------------------------------------
# The beta add-on.
mkdir -p "$beta/web" "$beta/zelt" "$beta/reports/daily"

# Recipient lists: accented names and a box-drawn banner, code page 437.
oem "$beta/operations.rcp" \
  '\xC9\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xBB' \
  '\xBA Operations recipients  \xBA' \
  '\xC8\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xBC' \
  'Jos\x82 Garc\xA1a;jose.garcia@norvale.example' \
  'J\x81rgen M\x81ller;juergen.mueller@norvale.example' \
  'Fran\x87oise L\x82ger;francoise.leger@norvale.example' \
  'Bj\x94rn \x8Fngstr\x94m;bjorn.angstrom@norvale.example'
oem "$beta/management.rcp" \
  '; weekly summary \xC4\xC4 management' \
  'Ren\x82e Dupr\x82;renee.dupre@norvale.example' \
  'Se\xA4or N\x84f;senor.naef@norvale.example'

# Extensions.
oem "$beta/queue_depth.ext" \
  '[Extension]' \
  'Name=Queue depth \xAF 80%' \
  'Query=SELECT queue, depth FROM queues WHERE depth > 0' \
  'Unit=\xE6s'
oem "$beta/disk_usage.ext" \
  '[Extension]' \
  'Name=Disk usage' \
  'Threshold=90' \
  'Note=Gr\x94\xE1e in MB'

# Report templates: copied byte for byte, so one carries UTF-8 of its own.
oem "$beta/daily_summary.xml" \
  '<?xml version="1.0" encoding="UTF-8"?>' \
  '<template name="Daily summary">' \
  '  <title>T\xC3\xA4gliche \xC3\x9Cbersicht</title>' \
  '  <section query="queues.dat"/>' \
  '</template>'
oem "$beta/weekly_detail.xml" \
  '<?xml version="1.0" encoding="ISO-8859-1"?>' \
  '<template name="Weekly detail">' \
  '  <title>Weekly detail</title>' \
  '</template>'

# SQL cache files; element.dat is the add-on's own index and stays behind.
oem "$beta/queues.dat" \
  'SELECT q.name, q.depth, q.owner FROM queues q' \
  '-- owner: J\x81rgen M\x81ller'
oem "$beta/alerts.dat" \
  'SELECT a.id, a.text FROM alerts a WHERE a.raised > ?'
oem "$beta/element.dat" 'ELEMENTS 3' 'queues' 'alerts' 'jobs'

# The two notification files (the name's letter case differs on purpose).
oem "$beta/NotifyMissed.txt" \
  'The report %REPORT% was not produced on schedule.' \
  'Contact: Jos\x82 Garc\xA1a'
oem "$beta/notifyfailed.txt" \
  'The report %REPORT% failed: %REASON%' \
  '\xDA\xC4\xC4\xC4\xC4\xC4\xC4\xBF' \
  '\xB3 Sorry \xB3' \
  '\xC0\xC4\xC4\xC4\xC4\xC4\xC4\xD9'

# Files that are not items: a report the beta produced.
oem "$beta/reports/daily/2004-06-01.txt" 'Daily report'

# Web summary pages; index.html is not one of them.
oem "$beta/web/queues.info" 'Title=Queues' 'Owner=J\x81rgen M\x81ller'
oem "$beta/web/alerts.info" 'Title=Alerts'
oem "$beta/web/summary.htm" \
  '<html><head><title>Summary</title></head>' \
  '<body><p>Verantwortlich: J\x81rgen M\x81ller</p></body></html>'
oem "$beta/web/detail.htm" \
  '<html><body><p>Detail \xAE</p></body></html>'
oem "$beta/web/index.html" '<html><body><a href="summary.htm">Summary</a></body></html>'

# Zelt integration: any name, one of them binary.
oem "$beta/zelt/zelt.ini" '[Zelt]' 'Server=zelt01' 'Port=7010'
oem "$beta/zelt/mapping.cfg" 'queues -> ZQ_QUEUES' 'alerts -> ZQ_ALERTS'
oem "$beta/zelt/README" 'Zelt connector for operational reporting (beta).'
printf 'ZLT\x00\x01\x00\x00\x00\xFF\xFE\x00\x10\x80\x81\x0D\x0A\x00\x00' >"$beta/zelt/connector.bin"

# ---------------------------------------------------------------------------
# Registry. The file is REGEDIT4 (plain ASCII), imported by Wine's regedit.
regfile="$WINEPREFIX/drive_c/quarn_sample.reg"
{
  printf 'REGEDIT4\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\Console_Reporting]\r\n'
  printf '"Path"="C:\\\\Program Files\\\\Ostrel\\\\Quarn\\\\console_reporting"\r\n'
  printf '"WebSiteLocalPath"="C:\\\\Program Files\\\\Ostrel\\\\Quarn\\\\console_reporting\\\\web"\r\n'
  printf '"ReportDirectory"="C:\\\\Program Files\\\\Ostrel\\\\Quarn\\\\console_reporting\\\\reports"\r\n'
  printf '"ArchiveShare"="\\\\\\\\reports01\\\\console_reporting\\\\out"\r\n'
  printf '"SmtpServer"="mail.norvale.example"\r\n'
  printf '"BetaBuild"="0.9.417"\r\n'
  printf '"RetentionDays"=dword:0000005a\r\n'
  printf '"MaxRecipients"=dword:00000032\r\n'
  printf '\r\n'
  printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\Console_Reporting\\Schedules]\r\n'
  printf '"Enabled"=dword:00000001\r\n'
  printf '\r\n'
  printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\Console_Reporting\\Schedules\\Daily]\r\n'
  printf '"RunAt"="02:30"\r\n'
  printf '"OutputDirectory"="C:\\\\Program Files\\\\Ostrel\\\\Quarn\\\\console_reporting\\\\reports\\\\daily"\r\n'
  printf '"Recipients"="operations.rcp"\r\n'
  printf '"Enabled"=dword:00000001\r\n'
  printf '\r\n'
  printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\Console_Reporting\\Schedules\\Weekly]\r\n'
  printf '"RunAt"="Sun 03:00"\r\n'
  printf '"Recipients"="management.rcp"\r\n'
  printf '"Enabled"=dword:00000000\r\n'
  printf '\r\n'
  printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\Console]\r\n'
  printf '"Path"="C:\\\\Program Files\\\\Ostrel\\\\Quarn\\\\console"\r\n'
  printf '"WebSiteLocalPath"="C:\\\\Program Files\\\\Ostrel\\\\Quarn\\\\console\\\\web"\r\n'
  printf '"Version"="5.2.2"\r\n'
  printf '"ConsolePort"=dword:00001f90\r\n'
  printf '\r\n'
  printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\Kelda\\CurrentVersion\\Languages]\r\n'
  printf '"eng"="0409,0809"\r\n'
  printf '"deu"="0407,0807"\r\n'
  printf '\r\n'
} >"$regfile"
wine regedit /s 'C:\quarn_sample.reg' >/dev/null 2>&1
rm -f "$regfile"

# regedit reports nothing on failure: check that the keys arrived.
if ! wine reg query 'HKLM\SOFTWARE\Norvale\Kelda\CurrentVersion\Console_Reporting' /v Path >/dev/null 2>&1 \
   || ! wine reg query 'HKLM\SOFTWARE\Norvale\Kelda\CurrentVersion\Console' /v Path >/dev/null 2>&1; then
  echo "sample-install: the registry keys were not imported" >&2
  exit 1
fi

echo "sample-install: beta add-on in C:\\Program Files\\Ostrel\\Quarn\\console_reporting"
echo "sample-install: console with 5.2.2 add-on in C:\\Program Files\\Ostrel\\Quarn\\console"

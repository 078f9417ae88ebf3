#!/usr/bin/env bash
# The MSI as a Windows administrator meets it, under Wine: its tables (msiinfo), a silent install
# per machine with the scheduled task, the installed qzbios-dump run and a host built against the
# installed files, an upgrade in place to a later version, and an uninstall that leaves nothing.
#   tests/msi_test.sh MSI LATER_MSI     (scripts/msi.sh builds both; the later one is VERSION.1)
set -euo pipefail
msi=$(realpath "$1") later=$(realpath "$2")
cd "$(dirname "$0")/.."
fail() { echo "msi_test: $*" >&2; exit 1; }
table() { msiinfo export "$msi" "$1" | tr -d '\r' | tail -n +4; }

# The tables: per machine, the fixed UpgradeCode taking every earlier version and this one, every
# file a host needs, the task's actions.
[ "$(table Property | grep -P '^ALLUSERS\t')" = $'ALLUSERS\t1' ] || fail "not per machine"
code=$(sed -n 's/.*UpgradeCode="\([^"]*\)".*/\1/p' windows/qzbios.wxs)
table Upgrade | grep -qP "^\{$code\}\t\t[0-9.]+\t\t513\t\tWIX_UPGRADE_DETECTED$" || fail "no major upgrade"
files=$(table File | cut -f3 | LC_ALL=C sort | tr '\n' ' ')
want="LICENSE.txt QZBios.h Qzbios.cs libqz-shared-qzbios-c.dll.a libqz-shared-qzbios.dll.a "
want+="libqz-shared-wmi-client.dll.a qz-shared-qzbios-c.dll qz-shared-qzbios-c.lib "
want+="qz-shared-qzbios.dll qz-shared-wmi-client.dll qzbios-baseline.rules.yml qzbios-c.pc "
want+="qzbios-dump.exe qzbios-textfile.xml "
want+="qzbios.pc qzbios.py qzbios.rules.yml qzbiosCTargets-release.cmake qzbiosCTargets.cmake "
want+="qzbiosConfig.cmake qzbiosConfigVersion.cmake qzbiosTargets-release.cmake qzbiosTargets.cmake "
want+="qzbios_c.h qzbios_c.hpp qzbios_c_plog.hpp version.h "
[ "$files" = "$want" ] || fail "the File table holds $files"
table CustomAction | grep -qP '^RegisterTextfileTask\t.*/create /f /tn qzbios-textfile /xml' ||
  fail "no task registration"
echo "msi_test: tables: per machine, major upgrade, $(wc -w <<<"$files") files, the task's actions"

# Under Wine, with a server of its own: the task scheduler starts only in a fresh one.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX=$PWD/build/msi/wineprefix
wine=/usr/lib/wine/wine64
/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
$wine wineboot --init >/dev/null 2>&1 || true
/usr/lib/wine/wineserver -w
/usr/lib/wine/wineserver -p
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true' EXIT
installed="$WINEPREFIX/drive_c/Program Files/qzbios"
task="$WINEPREFIX/drive_c/windows/system32/tasks/qzbios-textfile"
products() { $wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
  tr -d '\r' | grep -cP '^\s+DisplayName\s+REG_SZ\s+qzbios$' || true; }

$wine msiexec /i "Z:${msi//\//\\}" /qn QZBIOS_TEXTFILE_TASK=1 || fail "install failed ($?)"
[ "$(cd "$installed" && find . -type f | wc -l)" = 27 ] || fail "installed: $(cd "$installed" && find . -type f)"
[ -f "$task" ] || fail "the task was not registered"
version=$($wine "$installed/bin/qzbios-dump.exe" --version | tr -d '\r')
[[ "$version" =~ ^qzbios-dump\ [0-9.]+$ ]] || fail "the installed qzbios-dump says '$version'"
# Every binary says what it is (its version resource), and carries no debug information.
for binary in "$installed"/bin/*.dll "$installed"/bin/*.exe; do
  strings -el "$binary" | grep -qx "${version#qzbios-dump }" || fail "$binary has no version resource"
  ! x86_64-w64-mingw32-objdump -h "$binary" | grep -q '\.debug_info' || fail "$binary is not stripped"
done
# The task's action as the scheduler runs it: without windows_exporter's folder a success that
# writes nothing, with it the metrics.
action=$(sed -n 's|.*<Arguments>/d /c \(.*\)</Arguments>.*|@\1|p' windows/qzbios-textfile.xml)
inputs="$WINEPREFIX/drive_c/Program Files/windows_exporter/textfile_inputs"
printf '%s\r\n' "$action" >"$WINEPREFIX/drive_c/task.bat"
for folder in absent present; do
  [ "$folder" = absent ] || mkdir -p "$inputs"
  $wine cmd /d /c 'C:\task.bat' 2>/dev/null || fail "the task's action failed with windows_exporter's folder $folder"
done
grep -q '^qzbios_source_info{source="none"} 1' "$inputs/qzbios.prom" ||
  fail "the task's action wrote no metrics"
bash scripts/consumer-test.sh windows "$installed" >/dev/null || fail "a host did not build and run against the installed files"
echo "msi_test: installed 27 files and the task; $version ran; a host built against them ran"

$wine msiexec /i "Z:${later//\//\\}" /qn || fail "the upgrade failed ($?)"
[ "$(products)" = 1 ] || fail "$(products) products are installed after the upgrade"
[ -f "$installed/bin/qzbios-dump.exe" ] && [ -f "$task" ] || fail "the upgrade lost files or the task"
echo "msi_test: upgraded in place: one product"

$wine msiexec /x "Z:${later//\//\\}" /qn || fail "uninstall failed ($?)"
[ ! -e "$installed" ] || fail "left behind: $(find "$installed")"
[ ! -e "$task" ] || fail "the task stayed"
[ "$(products)" = 0 ] || fail "the product is still registered"
echo "msi_test: uninstalled: no file, no task, no product left"

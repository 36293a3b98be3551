#!/bin/sh
# The Windows setup program as a user runs it, under wine64 in the current X
# server, silently (/S) into a folder of the test's own (/D=):
#   1. every file of the zip is installed, with the uninstaller; the Start
#      menu has an entry for each window program, leading to it, and the
#      Uninstall key has the display name, version, icon and size;
#   2. the installed capmeter-sim.exe takes a reading and exits 0, the
#      installed capmeter-monitor.exe starts and closes with exit 0, and the
#      installed capmeter-cli.exe reads 4.7 uF with m = 9.0909;
#   3. installed again over itself, it is still whole (the old one is
#      uninstalled first);
#   4. the silent uninstall removes the files, the entries and the keys, and
#      leaves a file the user saved beside the installation folder.
# Expects WINEPREFIX set, with a running Wine server.
#
# Usage: wine_setup_e2e.sh SETUP.exe ZIP WORK_DIR
set -u
SETUP=$1 ZIP=$2 WORK=$3
HERE=$(cd "$(dirname "$0")" && pwd)
WINE=/usr/lib/wine/wine64
KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\capmeter'
PARENT=$WINEPREFIX/drive_c/capmeter-setup-test
DIR=$PARENT/capmeter
fail() {
  printf 'FAIL: %s\n' "$*"
  exit 1
}
# shellcheck source=tests/e2e/waits.sh
. "$HERE/waits.sh"
WAIT_CONTEXT=wine_setup_e2e

rm -rf "$WORK" "$PARENT"
mkdir -p "$WORK/unzipped" "$PARENT"
unzip -q "$ZIP" -d "$WORK/unzipped" || fail "unzip"
zipped=$(echo "$WORK"/unzipped/capmeter-*-windows-x86_64)
version=$(basename "$zipped" | sed 's/^capmeter-\(.*\)-windows-x86_64$/\1/')
echo "index,seconds,microfarads,outcome" >"$PARENT/readings.csv"

install() {
  printf '%s\n' "-- $SETUP /S /D=C:\\capmeter-setup-test\\capmeter"
  # A message box would wait for a click that never comes.
  timed setup "the silent install to end" "$WINE" "$SETUP" /S '/D=C:\capmeter-setup-test\capmeter' ||
    fail "the setup program failed or did not end"
}
# The Start menu's entries of the installation, wherever Wine keeps them.
entries() {
  find "$WINEPREFIX/drive_c" -path '*/Start Menu/Programs/capmeter/*'
}
# The key's values, nothing where there is no key.
registry() {
  values=$("$WINE" reg query "$KEY" 2>/dev/null) && printf '%s\n' "$values" | tr -d '\r'
}
installed_whole() {
  (cd "$zipped" && find . -type f) | while read -r file; do
    [ -f "$DIR/$file" ] || echo "not installed: $file"
  done | grep . && fail "files of the zip are missing"
  [ -f "$DIR/Uninstall.exe" ] || fail "no Uninstall.exe"
  for file in capmeter-monitor.exe Qt6Charts.dll LICENSE.txt LICENSE-Qt-LGPL-3.0.txt \
    LICENSE-Qt-GPL-3.0.txt; do
    [ -f "$DIR/$file" ] || fail "$file is not installed"
  done
  # Each entry and the program it must lead to.
  for entry in "Capacitance Meter:capmeter.exe" "Capacitance Meter (simulated):capmeter-sim.exe" \
    "Capacitance Monitor:capmeter-monitor.exe" "Uninstall:Uninstall.exe"; do
    name=${entry%%:*} program=${entry#*:}
    link=$(entries | grep "/$name\.lnk\$")
    [ -n "$link" ] || fail "no Start-menu entry \"$name\""
    # A shortcut holds its target's path in UTF-16.
    tr -d '\000' <"$link" | grep -q "capmeter\\\\$program" || fail "\"$name\" does not lead to $program"
  done
  values=$(registry | sed 's/^ *//; s/  */ /g')
  printf '%s\n' "$values"
  for value in "DisplayName REG_SZ capmeter" "DisplayVersion REG_SZ $version" \
    'DisplayIcon REG_SZ C:\capmeter-setup-test\capmeter\capmeter.exe' \
    'UninstallString REG_SZ "C:\capmeter-setup-test\capmeter\Uninstall.exe"'; do
    printf '%s\n' "$values" | grep -qxF "$value" || fail "the Uninstall key has no $value"
  done
  printf '%s\n' "$values" | grep -qx 'EstimatedSize REG_DWORD 0x0*[1-9a-f][0-9a-f]*' ||
    fail "the Uninstall key has no EstimatedSize"
}

[ -z "$(registry)" ] || fail "capmeter is installed in this Wine prefix already"
install
installed_whole
echo "PASS: installed, with its Start-menu entries and Uninstall key"

(cd "$DIR" && "$HERE/capmeter_e2e.sh" "$WINE" "$WORK/installed-sim.png" 1 1 capacitance \
  "$DIR/capmeter-sim.exe" --slope 9.0909) || fail "the installed capmeter-sim.exe"
(cd "$DIR" && "$HERE/monitor_e2e.sh" "$WINE" close "$WORK/installed-monitor.png" \
  "$DIR/capmeter-monitor.exe" --simulate) || fail "the installed capmeter-monitor.exe"
reading=$(timed command "the installed capmeter-cli.exe's reading" "$WINE" "$DIR/capmeter-cli.exe" measure --simulate --slope 9.0909 --count 1 --format csv |
  tr -d '\r' | tail -n 1)
echo "installed capmeter-cli.exe: $reading"
echo "$reading" | awk -F, '{ exit !($3 > 4.6 && $3 < 4.8 && $4 == "ok") }' ||
  fail "the installed capmeter-cli.exe does not read about 4.7 uF"

install
installed_whole
echo "PASS: installed over itself"

echo "-- Uninstall.exe /S"
timed setup "the silent uninstall to end" "$WINE" "$DIR/Uninstall.exe" /S ||
  fail "the uninstaller failed or did not end"
# It runs on from a copy of itself, so as to remove its own file.
removed() { [ ! -d "$DIR" ]; }
wait_until setup "the uninstaller's copy of itself to remove the installation folder" removed ||
  fail "still there after the uninstall: $(cd "$DIR" && find . | head)"
[ -z "$(entries)" ] || fail "Start-menu entries left: $(entries)"
find "$WINEPREFIX/drive_c" -path '*/Start Menu/Programs/capmeter' | grep . && fail "Start-menu folder left"
[ -z "$(registry)" ] || fail "the Uninstall key is left"
"$WINE" reg query 'HKLM\Software\The capmeter authors' >/dev/null 2>&1 &&
  fail "the key of the installation folder is left"
[ "$(cat "$PARENT/readings.csv")" = "index,seconds,microfarads,outcome" ] ||
  fail "the user's file beside the installation is gone or changed"
echo "PASS: uninstalled: no file, entry or key left; the user's file kept"

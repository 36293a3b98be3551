#!/bin/sh
# The Windows zip as a user gets it, under wine64 in the current X server:
# unpacked, its window programs driven through capmeter_e2e.sh from the
# unpacked folder alone, with each message box's text copied from the box.
#   1. capmeter-sim.exe --slope 9.0909: "Device opened.", a reading, "Device
#      closed", exit 0, the window 478x137; its screenshot is kept.
#   2. capmeter.exe with the stand-in FTD2XX.DLL beside it and --trace: the
#      same, and the trace holds the five operations on the stand-in.
#   3. capmeter.exe without FTD2XX.DLL: the library message, the open error.
#   4. capmeter-monitor.exe: a logged series near 4.7 uF and a clean exit,
#      through monitor_e2e.sh.
# Before them, the zip must hold every program and the licence texts of what
# it ships: ours, and Qt's LGPL-3.0 and GPL-3.0, which README-Windows.txt
# names with the programs that use them.
# Expects WINEPREFIX set, with a running Wine server.
#
# Usage: wine_window_e2e.sh ZIP STANDIN_DLL WORK_DIR
set -u
ZIP=$1 STANDIN=$2 WORK=$3
HERE=$(cd "$(dirname "$0")" && pwd)
WINE=/usr/lib/wine/wine64
fail() {
  echo "FAIL: $*"
  exit 1
}

rm -rf "$WORK"
mkdir -p "$WORK/unzipped"
unzip -q "$ZIP" -d "$WORK/unzipped" || fail "unzip"
app=$(echo "$WORK"/unzipped/capmeter-*-windows-x86_64)
for program in capmeter capmeter-sim capmeter-monitor; do
  [ -f "$app/$program.exe" ] || fail "no $program.exe in the zip's folder"
  file "$app/$program.exe" | grep -q '(GUI)' || fail "$program.exe opens a console window"
done
[ -f "$app/Qt6Charts.dll" ] || fail "no Qt6Charts.dll in the zip's folder"
# has_text FILE TEXT: the zip's FILE is there and holds TEXT.
has_text() {
  [ -f "$app/$1" ] || fail "no $1 in the zip's folder"
  tr -d '\r' <"$app/$1" | grep -q "$2" || fail "$1 does not say \"$2\""
}
has_text LICENSE.txt "^MIT License"
has_text LICENSE-Qt-LGPL-3.0.txt "GNU LESSER GENERAL PUBLIC LICENSE"
has_text LICENSE-Qt-GPL-3.0.txt "GNU GENERAL PUBLIC LICENSE"
has_text LICENSE-Qt-GPL-3.0.txt "Version 3, 29 June 2007"
has_text README-Windows.txt "^Licences"
has_text README-Windows.txt "capmeter-monitor.exe also uses Qt Charts"
has_text README-Windows.txt "Qt Charts: "

# run NAME FOLDER START EXIT RESULT EXPECTED PROGRAM.exe [ARGS...]: one run of
# capmeter_e2e.sh, from FOLDER as working directory; the message texts, one a
# line, must match the pattern EXPECTED.
run() {
  name=$1 folder=$2 start=$3 exits=$4 result=$5 expected=$6
  shift 6
  echo "-- $name"
  rm -f "$WORK/$name.texts"
  (cd "$folder" && CAPMETER_E2E_BOX_TEXTS="$WORK/$name.texts" "$HERE/capmeter_e2e.sh" \
    "$WINE" "$WORK/$name.png" "$start" "$exits" "$result" "$@") || fail "$name"
  texts=$(cat "$WORK/$name.texts")
  printf 'messages:\n%s\n' "$texts"
  # shellcheck disable=SC2254 # a pattern
  case $texts in
  $expected) ;;
  *) fail "$name: the messages are not: $expected" ;;
  esac
}

run simulated "$app" 1 1 capacitance "Device opened.
Device closed" "$app/capmeter-sim.exe" --slope 9.0909

# The stand-in library under the real one's name, beside the program.
cp -r "$app" "$WORK/with-library"
cp "$STANDIN" "$WORK/with-library/FTD2XX.DLL"
run standin "$WORK/with-library" 1 1 capacitance "Device opened.
Device closed" "$WORK/with-library/capmeter.exe" --trace "$WORK/trace.txt"
tr -d '\r' <"$WORK/trace.txt" >"$WORK/trace.log"
cat "$WORK/trace.log"
for operation in FT_Open FT_SetBitMode FT_Write FT_GetBitMode FT_Close; do
  grep -q "^[0-9.]* $operation .*-> 0" "$WORK/trace.log" || fail "no successful $operation in the trace"
done

run no-library "$app" 2 2 none "Error: Could not load the USB driver library FTD2XX.DLL (*).  *
Error: Could not open the device.  *
Error terminating Bit-Bang mode.
Error closing device" "$app/capmeter.exe"
echo "-- monitor"
(cd "$app" && "$HERE/monitor_e2e.sh" "$WINE" log "$WORK/monitor.png" \
  "$app/capmeter-monitor.exe" --simulate) || fail "monitor"
echo "PASS: the zip's window programs under Wine"

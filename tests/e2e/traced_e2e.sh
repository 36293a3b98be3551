#!/bin/sh
# capmeter-sim started with --trace FILE, --slope and --intercept, driven as
# in capmeter_e2e.sh; then the trace must hold the whole run: the open, the
# reads of the charge collapsed into one line, the reset and the close.
# Usage: traced_e2e.sh E2E_SCRIPT PROGRAM SCREENSHOT.png TRACE
set -u
E2E=$1 PROGRAM=$2 SHOT=$3 TRACE=$4
rm -f "$TRACE"
"$E2E" "$PROGRAM" "$SHOT" 1 1 capacitance --trace "$TRACE" --slope 9.0909 --intercept 1 || exit 1
fail() { echo "FAIL: $*"; cat "$TRACE"; exit 1; }
[ -s "$TRACE" ] || fail "no trace written"
grep -q '^[0-9.]* FT_Open index=0 -> 0 handle=0x' "$TRACE" || fail "no open"
grep -q '^[0-9.]* FT_SetBitMode mask=0xfd enable=0xff -> 0$' "$TRACE" || fail "no set-up"
grep -Eq '^[0-9.]+\.\.[0-9.]+ FT_GetBitMode -> 0 pins=0x37 x[0-9]+$' "$TRACE" ||
  fail "the charge's reads are not one collapsed line"
[ "$(tail -n 2 "$TRACE" | cut -d' ' -f2-)" = "FT_SetBitMode mask=0x00 enable=0x00 -> 0
FT_Close -> 0" ] || fail "the trace does not end with the reset and the close"
echo "PASS: the traced run, $(wc -l <"$TRACE") lines"

#!/bin/sh
# Ends a running window program with a signal, as a logout, `kill` or Ctrl-C
# in its terminal does, and checks that it switched bit-bang mode off and
# closed the device once, with its message on standard error instead of a box
# nobody may be there to answer, and left with status 0.
#
# Usage: signal_e2e.sh PROGRAM STANDIN WHEN SIGNAL
#   STANDIN: the stand-in driver library, run under the real library's name
#            with its call record read afterwards; "-" for none (capmeter-sim)
#   WHEN:    "start" while the start message is up, or "idle" after it was
#            acknowledged and Sample pressed once
#   SIGNAL:  TERM, INT or HUP
set -u
PROGRAM=$1 STANDIN=$2 WHEN=$3 SIGNAL=$4
# shellcheck source=tests/e2e/x_windows.sh
. "$(dirname "$0")/x_windows.sh"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# A failed wait's screenshot beside the other tests' ones; fail() shows the
# standard error.
WAIT_SHOT=$PWD/failed-signal-$(basename "$PROGRAM")-$WHEN-$SIGNAL.png
WAIT_CONTEXT="signal_e2e $(basename "$PROGRAM") $WHEN SIG$SIGNAL"
PID=""
fail() {
  echo "FAIL: $*"
  [ -f "$WORK/calls" ] && { echo "calls:"; cat "$WORK/calls"; }
  [ -f "$WORK/stderr" ] && { echo "standard error:"; cat "$WORK/stderr"; }
  [ -n "$PID" ] && kill -KILL "$PID" 2>/dev/null
  exit 1
}


if [ "$STANDIN" != - ]; then
  # The program looks the library up by name on the loader's search path.
  ln -s "$STANDIN" "$WORK/libftd2xx.so"
  export LD_LIBRARY_PATH="$WORK${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
  export CAPMETER_STANDIN_CALL_RECORD="$WORK/calls"
fi

# A script's background job starts with SIGINT ignored, and the program
# leaves a signal ignored that it was started with (as under nohup): undo that
# as the terminal's foreground job would have it.
env --default-signal=INT "$PROGRAM" 2>"$WORK/stderr" &
PID=$!

box=$(wait_for "$BOX_TITLE" window "the start message") || fail "no start message"
if [ "$WHEN" = idle ]; then
  focus "$box" || fail "the start message never had the keyboard"
  xdotool key Return
  win=$(wait_for "$TITLE" window "the main window") || fail "no main window"
  xdotool mousemove --window "$win" 72 104 click 1  # Sample
  # Idle again once the reading's time is on show.
  wait_until display "the reading's time in the window's display" \
    shows_text "$win" "$TIME_AREA" "$WORK/shot.png" || fail "Sample gave no reading"
fi

kill -"$SIGNAL" "$PID"
wait_until exit "the program to end after SIG$SIGNAL" gone ||
  fail "still running after SIG$SIGNAL (a box up?)"
wait "$PID"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status"
grep -qx "Device closed" "$WORK/stderr" || fail "no \"Device closed\" on standard error"

if [ "$STANDIN" != - ]; then
  calls="$WORK/calls"
  [ "$(head -n 1 "$calls")" = "FT_Open index=0" ] || fail "the first call is not the open"
  [ "$(grep -c ' mask=00 enable=00$' "$calls")" -eq 1 ] || fail "not exactly one reset"
  [ "$(grep -c '^FT_Close ' "$calls")" -eq 1 ] || fail "not exactly one close"
  reset=$(tail -n 2 "$calls" | head -n 1)
  close=$(tail -n 1 "$calls")
  handle=$(echo "$close" | sed -n 's/^FT_Close handle=\([^ ]*\)$/\1/p')
  [ -n "$handle" ] || fail "the last call is not the close"
  [ "$reset" = "FT_SetBitMode handle=$handle mask=00 enable=00" ] ||
    fail "the call before the close is not the reset on the same handle"
  if [ "$WHEN" = idle ]; then
    grep -q ' mask=fd enable=ff$' "$calls" || fail "Sample did not reach the library"
  fi
fi
echo "PASS: SIG$SIGNAL ($WHEN): Close link once, \"Device closed\" on standard error, exit 0"

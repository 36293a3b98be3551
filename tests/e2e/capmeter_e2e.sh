#!/bin/sh
# Drives a real capmeter program as a user would, in a real X server: the
# start messages, a slope typed into m, a click on Sample, a look at the
# window from outside, a screenshot, the close button and the exit messages.
#
# Usage: capmeter_e2e.sh PROGRAM SCREENSHOT.png START_BOXES EXIT_BOXES RESULT [ARGS...]
#   START_BOXES, EXIT_BOXES: how many message boxes come up at start and exit
#   RESULT: "capacitance" when Sample must give a capacitance, "none" when the
#           capacitance display must stay empty (no device), "processing" to
#           look while a long charge (over 3 s) still holds the program busy
#   CAPMETER_E2E_BOX_TEXTS (Windows programs only): a file to append each
#   message box's text to
set -u
PROGRAM=$1 SHOT=$2 START_BOXES=$3 EXIT_BOXES=$4 RESULT=$5
shift 5
HERE=$(dirname "$0")
# shellcheck source=tests/e2e/x_windows.sh
. "$HERE/x_windows.sh"
WAIT_STDERR=$(mktemp) WAIT_SHOT=${SHOT%.png}-failed.png
trap 'rm -f "$WAIT_STDERR"' EXIT
# Under Wine or the chip emulator the program is the first argument.
case $(basename "$PROGRAM") in
wine* | usb-chip-emulator) WAIT_CONTEXT="capmeter_e2e $(basename "$1")" ;;
*) WAIT_CONTEXT="capmeter_e2e $(basename "$PROGRAM")" ;;
esac
PID=""
fail() { echo "FAIL: $*"; [ -n "$PID" ] && kill "$PID" 2>/dev/null; exit 1; }

# On Windows (under Wine) Ctrl+C copies a message box: its title, text and
# buttons between dashed lines. Appends the text to $CAPMETER_E2E_BOX_TEXTS,
# taken from the clipboard once the box has put it there.
copied() {
  copied=$(xclip -o -selection clipboard 2>/dev/null | tr -d '\r')
  [ -n "$copied" ]
}
copy_text() {
  printf '' | xclip -selection clipboard
  xdotool key ctrl+c
  wait_until clipboard "the text of message box $2 on the clipboard" copied ||
    fail "message box $2 did not copy its text"
  echo "$copied" | awk '/^-+$/ { n++; next } n == 2' >>"$CAPMETER_E2E_BOX_TEXTS"
}

box_gone() { ! xdotool search --onlyvisible --name "^$BOX_TITLE\$" | grep -qx "$box"; }
# Acknowledges $1 message boxes one after the other with the Return key; the
# first waited for as the kind of wait $4.
acknowledge() {
  for i in $(seq "$1"); do
    kind=window
    [ "$i" -eq 1 ] && kind=$4
    box=$(wait_for "$BOX_TITLE" "$kind" "message box $i of $1 ($2)") ||
      fail "message box $i of $1 ($2) did not come up"
    [ -n "$3" ] && [ -n "$(xdotool search --onlyvisible --name "^$TITLE\$")" ] &&
      fail "the window showed before the start messages were acknowledged"
    focus "$box" || fail "message box $i of $1 ($2) never had the keyboard"
    [ -n "${CAPMETER_E2E_BOX_TEXTS:-}" ] && copy_text "$box" "$i"
    xdotool key Return
    wait_until gone "message box $i of $1 ($2) to close after Return" box_gone ||
      fail "message box $i of $1 ($2) stayed up after Return"
  done
  sleep 0.3
  [ -z "$(xdotool search --onlyvisible --name "^$BOX_TITLE\$")" ] || fail "more than $1 $2 messages"
}

# Succeeds when area $1 of the main window shows text, in a screenshot into
# $SHOT, which must have the window's size.
shows() {
  shows_text "$win" "$1" "$SHOT"
  status=$?
  [ "$status" -eq 2 ] && fail "screenshot"
  [ "$(identify -format %wx%h "$SHOT")" = "478x137" ] || fail "screenshot size"
  return $status
}

START_KIND=$(start_kind "$PROGRAM" "$@")
"$PROGRAM" "$@" 2>"$WAIT_STDERR" &
PID=$!

acknowledge "$START_BOXES" start before-window "$START_KIND"
win=$(wait_for "$TITLE" window "the main window") || fail "no main window"
[ "$(xdotool getwindowname "$win")" = "$TITLE" ] || fail "title"
size=$(xwininfo -id "$win" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}')
[ "$size" = "478x137" ] || fail "client size $size, expected 478x137"

# Centres of txtM (3480, 840, 735, 375 twips) and cmdSample (600, 1320, 975, 495).
xdotool mousemove --window "$win" 256 68 click 1
xdotool key ctrl+a
xdotool type --delay 20 "9.0909"
xdotool mousemove --window "$win" 72 104 click 1

if [ "$RESULT" = capacitance ]; then
  wait_until display "a capacitance in the window's display" shows $CAPACITANCE_AREA ||
    fail "the capacitance display is empty"
  shows $TIME_AREA || fail "the time display is empty"
else
  wait_until display "a time in the window's display" shows $TIME_AREA ||
    fail "the time display is empty"
  # Nothing may come into the capacitance display: looked at again a second on.
  [ "$RESULT" = none ] && sleep 1
  shows $CAPACITANCE_AREA && fail "the capacitance display shows something"
fi
if [ "$RESULT" = processing ]; then
  # "Processing!" was painted although the program is busy: the charge ends
  # with a capacitance.
  wait_until display "the long charge's capacitance in the window's display" \
    shows $CAPACITANCE_AREA || fail "the long charge did not end"
fi

python3 "$HERE/close_window.py" "$win" || fail "close request"
acknowledge "$EXIT_BOXES" exit "" window

wait_until exit "the program to end after its exit messages" gone ||
  fail "still running after the exit messages"
wait "$PID"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status"
echo "PASS: $START_BOXES start message(s), window $size, Sample shown, $EXIT_BOXES exit message(s), exit 0"

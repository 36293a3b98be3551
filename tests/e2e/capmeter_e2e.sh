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
PID=""
fail() { echo "FAIL: $*"; [ -n "$PID" ] && kill "$PID" 2>/dev/null; exit 1; }


# On Windows (under Wine) Ctrl+C copies a message box: its title, text and
# buttons between dashed lines. Appends the text to $CAPMETER_E2E_BOX_TEXTS,
# taken from the clipboard once the box has put it there.
copy_text() {
  printf '' | xclip -selection clipboard
  xdotool key ctrl+c
  for _ in $(seq 50); do
    copied=$(xclip -o -selection clipboard 2>/dev/null | tr -d '\r')
    [ -n "$copied" ] && break
    sleep 0.1
  done
  [ -n "$copied" ] || fail "message box $2 did not copy its text"
  echo "$copied" | awk '/^-+$/ { n++; next } n == 2' >>"$CAPMETER_E2E_BOX_TEXTS"
}

# Acknowledges $1 message boxes one after the other with the Return key.
acknowledge() {
  for i in $(seq "$1"); do
    box=$(wait_for "$BOX_TITLE") || fail "message box $i of $1 ($2) did not come up"
    [ -n "$3" ] && [ -n "$(xdotool search --onlyvisible --name "^$TITLE\$")" ] &&
      fail "the window showed before the start messages were acknowledged"
    focus "$box" || fail "message box $i of $1 ($2) never had the keyboard"
    [ -n "${CAPMETER_E2E_BOX_TEXTS:-}" ] && copy_text "$box" "$i"
    xdotool key Return
    for _ in $(seq 50); do
      xdotool search --onlyvisible --name "^$BOX_TITLE\$" | grep -qx "$box" || break
      sleep 0.1
    done
  done
  sleep 0.3
  [ -z "$(xdotool search --onlyvisible --name "^$BOX_TITLE\$")" ] || fail "more than $1 $2 messages"
}

# Succeeds when the screenshot area $1 holds dark (text) pixels.
has_text() {
  darkest=$(convert "$SHOT" -crop "$1" -colorspace Gray -format "%[fx:minima]" info:)
  awk -v d="$darkest" 'BEGIN { exit !(d < 0.5) }'
}

# The two displays, lblTime and lblCapacitance, in window pixels.
TIME_AREA=97x25+24+48 CAPACITANCE_AREA=97x25+352+56

# Takes a screenshot of the main window into $SHOT.
shoot() {
  import -window "$win" "$SHOT" || fail "screenshot"
  [ "$(identify -format %wx%h "$SHOT")" = "478x137" ] || fail "screenshot size"
}
# Looks at the window from outside until area $1 shows text, for up to 10 s,
# so a slow, busy machine is given time rather than a failure.
shoot_until_text() {
  for _ in $(seq 20); do
    shoot
    has_text "$1" && return 0
    sleep 0.5
  done
  return 1
}

"$PROGRAM" "$@" &
PID=$!

acknowledge "$START_BOXES" start before-window
win=$(wait_for "$TITLE") || fail "no main window"
[ "$(xdotool getwindowname "$win")" = "$TITLE" ] || fail "title"
size=$(xwininfo -id "$win" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}')
[ "$size" = "478x137" ] || fail "client size $size, expected 478x137"

# Centres of txtM (3480, 840, 735, 375 twips) and cmdSample (600, 1320, 975, 495).
xdotool mousemove --window "$win" 256 68 click 1
xdotool key ctrl+a
xdotool type --delay 20 "9.0909"
xdotool mousemove --window "$win" 72 104 click 1

if [ "$RESULT" = capacitance ]; then
  shoot_until_text $CAPACITANCE_AREA || fail "the capacitance display is empty"
  has_text $TIME_AREA || fail "the time display is empty"
else
  shoot_until_text $TIME_AREA || fail "the time display is empty"
  [ "$RESULT" = none ] && { sleep 1; shoot; }
  has_text $CAPACITANCE_AREA && fail "the capacitance display shows something"
fi
if [ "$RESULT" = processing ]; then
  # "Processing!" was painted although the program is busy: wait for the end.
  xdotool search --onlyvisible --name "^$TITLE\$" >/dev/null || fail "window gone"
  sleep 4
fi

python3 "$HERE/close_window.py" "$win" || fail "close request"
acknowledge "$EXIT_BOXES" exit ""

for _ in $(seq 100); do kill -0 "$PID" 2>/dev/null || break; sleep 0.1; done
kill -0 "$PID" 2>/dev/null && fail "still running after the exit messages"
wait "$PID"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status"
echo "PASS: $START_BOXES start message(s), window $size, Sample shown, $EXIT_BOXES exit message(s), exit 0"

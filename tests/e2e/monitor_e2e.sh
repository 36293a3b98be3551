#!/bin/sh
# Drives capmeter-monitor on the simulated chip as a user would, from the
# keyboard, in a real X server.
#
# Usage: monitor_e2e.sh PROGRAM CASE SCREENSHOT.png [SOURCE...]
#   SOURCE: what the readings come from, --simulate unless given (e.g. an
#           emulator, the monitor and --usb VID:PID, for the "log" case)
#   The window's title must name the chip's serial number; on the simulated
#   chips the "log" case opens the second of two by it.
#   CASE "log":     --slope 9.0909 --log FILE; Count 20, limits, Start, wait for the
#                   20 readings, Stop, a screenshot, Save, close; the log must
#                   hold 20 rows around 4.7 uF in capmeter-cli's CSV columns,
#                   and the saved file the same.
#   CASE "sigterm": --trace FILE; Start (continuous), SIGTERM while the series
#                   runs; exit status 0, and the trace must end with one
#                   reset and one close of the device.
#   CASE "close":   the window comes up and is closed: exit status 0.
set -u
PROGRAM=$1 CASE=$2 SHOT=$3
shift 3
SOURCE="--simulate"
[ $# -gt 0 ] && SOURCE="$*"
HERE=$(dirname "$0")
# shellcheck source=tests/e2e/x_windows.sh
. "$HERE/x_windows.sh"
SERIAL=SIM-1
case $SOURCE in *--usb*) SERIAL=CM-USB-1 ;; esac
if [ "$CASE" = log ] && [ "$SOURCE" = --simulate ]; then
  SOURCE="--simulate --chips 2 --serial SIM-2" SERIAL=SIM-2
fi
TITLE="Capacitance Monitor — $SERIAL"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# fail() shows the standard error.
WAIT_SHOT=${SHOT%.png}-failed.png
case $(basename "$PROGRAM") in
wine* | usb-chip-emulator) WAIT_CONTEXT="monitor_e2e $CASE $(basename "$1")" ;;
*) WAIT_CONTEXT="monitor_e2e $CASE $(basename "$PROGRAM")" ;;
esac
PID=""
fail() {
  echo "FAIL: $*"
  for f in log.csv trace stderr; do
    [ -f "$WORK/$f" ] && { echo "== $f"; tail -n 20 "$WORK/$f"; }
  done
  [ -n "$PID" ] && kill -KILL "$PID" 2>/dev/null
  exit 1
}

window_up() {
  win=$(xdotool search --onlyvisible --name "^$TITLE\$" 2>/dev/null | head -n 1)
  [ -n "$win" ]
}
# Under Wine a small window of the same title stands beside the dialog.
dialog_up() {
  for id in $(xdotool search --onlyvisible --name "^Save the readings\$" 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$id")"
    [ "$WIDTH" -ge 200 ] && dialog=$id && return 0
  done
  return 1
}
# Copies the focused field's text out: it must be $1.
field_holds() {
  printf '' | xclip -selection clipboard
  xdotool key ctrl+a ctrl+c
  sleep 0.2
  [ "$(xclip -o -selection clipboard 2>/dev/null)" = "$1" ]
}
# A completion list is an unmanaged window of its own; while it is up it
# takes Return from the field.
popup_up() {
  for child in $(xwininfo -root -children | awk '/^ +0x/ { print $1 }'); do
    xwininfo -id "$child" 2>/dev/null |
      awk '/Map State: IsViewable/ { v = 1 } /Override Redirect State: yes/ { o = 1 }
        END { exit !(v && o) }' && return 0
  done
  return 1
}
popup_gone() { ! popup_up; }
dialog_gone() { ! xdotool search --onlyvisible --name "^Save the readings\$" >/dev/null 2>&1; }
saved_as_logged() { cmp -s "$WORK/saved.csv" "$WORK/log.csv"; }
writes_at_least() { [ "$(grep -c "FT_Write" "$WORK/trace")" -ge "$1" ]; }
rows_at_least() { [ "$(wc -l <"$WORK/log.csv")" -ge $(($1 + 1)) ]; }

# Ends the program's run: waits for it to leave, then wants status 0.
expect_exit_0() {
  wait_until exit "the program to end after $1" gone || fail "still running after $1"
  wait "$PID"
  status=$?
  [ "$status" -eq 0 ] || fail "exit status $status after $1"
  tr -d '\r' <"$WORK/stderr" | grep -qx "Device closed" || fail "no \"Device closed\" on standard error"
}

case $CASE in
  log) set -- --log "$WORK/log.csv" --slope 9.0909 ;;
  sigterm) set -- --trace "$WORK/trace" ;;
  close) set -- ;;
  *) fail "unknown case $CASE" ;;
esac
# As the terminal's foreground job would start it: SIGINT not ignored.
# shellcheck disable=SC2086 # SOURCE is words
START_KIND=$(start_kind "$PROGRAM" $SOURCE)
# shellcheck disable=SC2086 # SOURCE is words
env --default-signal=INT "$PROGRAM" $SOURCE "$@" 2>"$WORK/stderr" &
PID=$!

win=""
wait_until "$START_KIND" "the window titled \"$TITLE\"" window_up || fail "no window"
focus "$win" || fail "the window never had the keyboard"

if [ "$CASE" = close ]; then
  python3 "$HERE/close_window.py" "$win" || fail "close request"
  expect_exit_0 "the close"
  echo "PASS: the window came up and closed, exit 0"
  exit 0
fi

if [ "$CASE" = sigterm ]; then
  xdotool key alt+s  # Start: continuous until Stop
  # A default reading takes 0.517 s: let two end and the third begin.
  wait_until reading "three writes of the series in the trace" writes_at_least 3 ||
    fail "the series did not run"
  sleep 1.2
  kill -TERM "$PID"
  expect_exit_0 SIGTERM
  [ "$(grep -c ' FT_Close ' "$WORK/trace")" -eq 1 ] || fail "not exactly one close"
  [ "$(grep -c ' FT_SetBitMode mask=0x00 enable=0x00 ' "$WORK/trace")" -eq 1 ] ||
    fail "not exactly one reset of bit-bang mode"
  [ "$(tail -n 2 "$WORK/trace" | cut -d' ' -f2-)" = "FT_SetBitMode mask=0x00 enable=0x00 -> 0
FT_Close -> 0" ] || fail "the trace does not end with the reset and the close"
  echo "PASS: SIGTERM during a series: reset and closed once, exit 0"
  exit 0
fi

xdotool key alt+o ctrl+a
xdotool type --delay 20 "20"
# Limits 4.7 uF, -1 % and +1 %, for the verdict in the screenshot.
xdotool key alt+n
xdotool type --delay 20 "4.7"
xdotool key alt+w ctrl+a
xdotool type --delay 20 "1"
xdotool key alt+u ctrl+a
xdotool type --delay 20 "1"
xdotool key Tab
xdotool key alt+s  # Start
# 20 default readings take about 10.5 s.
wait_until series "20 readings in the log" rows_at_least 20 || fail "no 20 readings"
xdotool key alt+t  # Stop: the series is over already
sleep 0.5          # the window collects every 0.1 s
import -window "$win" "$SHOT" || fail "screenshot"

# A Windows program ends its lines with CR LF.
tr -d '\r' <"$WORK/log.csv" >"$WORK/log.lf"
[ "$(head -n 1 "$WORK/log.lf")" = "index,seconds,microfarads,outcome,time,seconds_uncertainty,failure" ] || fail "CSV header"
[ "$(wc -l <"$WORK/log.lf")" -eq 21 ] || fail "not 20 rows"
# A busy machine can only make a reading late (larger), never early.
# Every row a reading; over emulated USB on a busy machine one may come in a
# little short, so each is only held near 4.7 and the median closely.
awk -F, 'NR > 1 && !($1 == NR - 1 && $4 == "ok" && $3 > 4.5) { bad = 1 }
  END { exit bad }' "$WORK/log.lf" || fail "a row is not a reading of at least 4.5 uF"
median=$(tail -n +2 "$WORK/log.lf" | cut -d, -f3 | sort -g | sed -n 10p)
awk -v m="$median" 'BEGIN { exit !(m > 4.65 && m < 4.8) }' || fail "median $median, not about 4.7"

# Save writes the readings kept in memory: the same file as the log.
xdotool key alt+v
dialog=""
wait_until window "the save dialog" dialog_up || fail "no save dialog"
focus "$dialog" || fail "the save dialog never had the keyboard"
xdotool key ctrl+a
case $(basename "$PROGRAM") in
  wine*)
    # Windows' own dialog, which takes no '/' in a name; Wine's drive Z: is
    # the root. Its clipboard does not reach X's at once, so the field is
    # not read back; it shows no completion list (Wine's own windows without
    # a window manager would look like one).
    xdotool type --delay 20 "Z:$(printf '%s' "$WORK/saved.csv" | tr / '\\')"
    ;;
  *)
    xdotool type --delay 20 "$WORK/saved.csv"
    wait_until clipboard "the file name in the dialog's field" field_holds "$WORK/saved.csv" ||
      fail "the file name did not reach the dialog: \"$(xclip -o -selection clipboard 2>/dev/null)\""
    if popup_up; then
      xdotool key Escape
      wait_until gone "the completion list to close after Escape" popup_gone ||
        fail "the completion list stayed up"
    fi
    ;;
esac
xdotool key Return
wait_until gone "the save dialog to close after Return" dialog_gone ||
  fail "the save dialog took no Return"
# The file is written after the dialog closes: complete when it is the log.
wait_until file "the saved file to be the log" saved_as_logged ||
  fail "the saved readings differ from the log"

python3 "$HERE/close_window.py" "$win" || fail "close request"
expect_exit_0 "the close"
echo "PASS: 20 readings logged around 4.7 uF, saved alike, window closed, exit 0"

#!/bin/sh
# Sourced by the window tests: the window titles, and waiting for a window.
# shellcheck disable=SC2034 # the titles are for the scripts that source this
TITLE="Capacitance Meter over USB"
BOX_TITLE="Capacitance Meter"
export QT_FONT_DPI=96
# shellcheck source=tests/e2e/waits.sh
. "$(dirname "$0")/waits.sh"

titled() {
  found=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
  [ -n "$found" ]
}
# Prints a visible window whose title is exactly $1, waiting for it up to the
# limit of the kind $2 (a window unless given); $3 names it in a failure.
wait_for() {
  wait_until "${2:-window}" "${3:-a window} titled \"$1\"" titled "$1" || return 1
  echo "$found"
}

has_focus() {
  [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ] && return 0
  xdotool windowfocus "$1" 2>/dev/null
  return 1
}
# Gives window $1 the keyboard and waits until it has it: keys sent as soon as
# a window shows go to the one that had the keyboard before.
focus() {
  wait_until focus "the keyboard for window $1 \"$(xdotool getwindowname "$1" 2>/dev/null)\"" \
    has_focus "$1"
}

# Succeeds when area $2 (WxH+X+Y) of window $1 holds dark (text) pixels, as
# seen in a screenshot into file $3; 2 when no screenshot could be taken.
shows_text() {
  import -window "$1" "$3" || return 2
  darkest=$(convert "$3" -crop "$2" -colorspace Gray -format "%[fx:minima]" info:)
  awk -v d="$darkest" 'BEGIN { exit !(d < 0.5) }'
}
# The two displays of the meter's window, lblTime and lblCapacitance, in
# window pixels.
TIME_AREA=97x25+24+48 CAPACITANCE_AREA=97x25+352+56

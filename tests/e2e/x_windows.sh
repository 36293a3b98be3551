#!/bin/sh
# Sourced by the window tests: the window titles, and waiting for a window.
# shellcheck disable=SC2034 # the titles are for the scripts that source this
TITLE="Capacitance Meter over USB"
BOX_TITLE="Capacitance Meter"
export QT_FONT_DPI=96

# Prints the visible windows whose title is exactly $1, waiting up to 10 s.
wait_for() {
  for _ in $(seq 100); do
    ids=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null)
    [ -n "$ids" ] && { echo "$ids" | head -n 1; return 0; }
    sleep 0.1
  done
  return 1
}

# Gives window $1 the keyboard and waits up to 10 s until it has it: keys sent
# as soon as a window shows go to the one that had the keyboard before.
focus() {
  for _ in $(seq 100); do
    [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ] && return 0
    xdotool windowfocus "$1" 2>/dev/null
    sleep 0.1
  done
  return 1
}

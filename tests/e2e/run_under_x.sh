#!/bin/sh
# Runs a command in a fresh X server of its own (no window manager), once the
# server accepts connections: a program that finds it deaf ends at once.
# Xvfb picks a free display itself (-displayfd) and claims it in the same
# step, so tests running side by side never share one: two searches for a
# free number, as xvfb-run -a makes them, can choose the same display, and
# one test's program then talks to the other's server, or to none once it
# has gone. -noreset: a server left by its last client resets, and refuses
# whoever connects meanwhile, such as the program started just after the
# look that found the server answering.
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck disable=SC2034 # read by waits.sh
WAIT_LIMITS=$HERE/limits WAIT_CONTEXT=run_under_x
. "$HERE/waits.sh"
XDIR=$(mktemp -d)
Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1024x768x24 -dpi 96 3>"$XDIR/display" \
  2>"$XDIR/xvfb.log" &
XVFB=$!
trap 'kill "$XVFB" 2>/dev/null; wait "$XVFB" 2>/dev/null; rm -rf "$XDIR"' EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
numbered() { [ -s "$XDIR/display" ] || ! running "$XVFB"; }
wait_until x_server "Xvfb to choose a display" numbered || exit 1
running "$XVFB" || { echo "Xvfb did not start:"; cat "$XDIR/xvfb.log"; exit 1; }
DISPLAY=:$(tr -d '\n' <"$XDIR/display")
export DISPLAY
answers() { xdpyinfo >/dev/null 2>&1; }
wait_until x_server "the X server $DISPLAY to accept connections" answers || exit 1
"$@"

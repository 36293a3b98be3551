#!/bin/sh
# Runs a command in a fresh X server of its own (no window manager), once the
# server accepts connections: a program that finds it deaf ends at once. The
# search for a free display starts at a number taken from the process ID, so
# builds running side by side do not race for the same one.
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck disable=SC2016 # expanded by the inner shell
exec xvfb-run -a -n $((100 + $$ % 800)) -s "-screen 0 1024x768x24 -dpi 96" sh -c '
  WAIT_LIMITS=$1/limits WAIT_CONTEXT=run_under_x
  . "$1/waits.sh"
  answers() { xdpyinfo >/dev/null 2>&1; }
  wait_until x_server "the X server $DISPLAY to accept connections" answers || exit 1
  shift
  exec "$@"' sh "$HERE" "$@"

#!/bin/sh
# Runs a command in a fresh X server of its own (no window manager). The
# search for a free display starts at a number taken from the process ID, so
# builds running side by side do not race for the same one.
exec xvfb-run -a -n $((100 + $$ % 800)) -s "-screen 0 1024x768x24 -dpi 96" "$@"

#!/bin/sh
# Runs a command in a fresh X server of its own (no window manager).
exec xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" "$@"

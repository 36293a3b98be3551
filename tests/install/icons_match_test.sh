#!/bin/sh
# Each committed PNG is the SVG rendered at its size (up to the renderer's
# rounding). Usage: icons_match_test.sh RSVG_CONVERT ICON_DIR SIZE...
set -u
RSVG=$1 DIR=$2
shift 2
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
for size in "$@"; do
  png=$DIR/hicolor/${size}x${size}/apps/capmeter.png
  "$RSVG" -w "$size" -h "$size" "$DIR/capmeter.svg" -o "$WORK/$size.png" || exit 1
  # Root mean square error over all channels, 0 to 1.
  error=$(compare -metric RMSE "$png" "$WORK/$size.png" null: 2>&1 | sed 's/.*(\(.*\))/\1/')
  if awk -v e="$error" 'BEGIN { exit !(e + 0 < 0.01) }'; then
    echo "ok: ${size}x${size} (RMSE $error)"
  else
    echo "FAIL: ${size}x${size} differs from the drawing (RMSE $error); run tools/make-icons"
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ]

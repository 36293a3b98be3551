#!/bin/sh
# Every drawing in docs/ renders, at the size its root element gives, so a
# broken file fails here rather than on a reader's screen.
# Usage: drawings_render_test.sh RSVG_CONVERT DOCS_DIR
set -u
RSVG=$1 DIR=$2
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# The PNG's width and height, from its header chunk.
png_size() {
  od -An -tu1 -j16 -N8 "$1" |
    awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 "x" $5 * 16777216 + $6 * 65536 + $7 * 256 + $8 }'
}
failures=0 drawings=0
for svg in "$DIR"/*.svg; do
  [ -e "$svg" ] || continue
  drawings=$((drawings + 1))
  name=${svg##*/}
  png=$WORK/${name%.svg}.png
  expected=$(sed -n 's/.*<svg[^>]* width="\([0-9]*\)"[^>]* height="\([0-9]*\)".*/\1x\2/p' "$svg" | head -n 1)
  if ! "$RSVG" "$svg" -o "$png"; then
    echo "FAIL: $name does not render"
    failures=$((failures + 1))
  elif [ -z "$expected" ]; then
    echo "FAIL: $name gives no width and height in pixels on its <svg> line"
    failures=$((failures + 1))
  elif [ "$(png_size "$png")" != "$expected" ]; then
    echo "FAIL: $name renders at $(png_size "$png"), not $expected"
    failures=$((failures + 1))
  else
    echo "ok: $name ($expected, $(wc -c <"$png") bytes)"
  fi
done
[ "$drawings" -gt 0 ] || { echo "FAIL: no drawing in $DIR"; exit 1; }
[ "$failures" -eq 0 ]

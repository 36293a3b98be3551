#!/bin/sh
# The layer check must fail on a folder that includes what its README forbids,
# and pass once the include is gone.
set -eu
check=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/device" "$tree/measurement"
echo 'May include: `ui/display.h` and the C++ standard library; never Qt.' >"$tree/device/README.md"
printf '#include "device/link.h"\n#include "ui/display.h"\n#include "measurement/clock.h"\n#include <QLabel>\n' \
  >"$tree/device/link.cpp"
if out=$("$check" "$tree"); then
  echo "check passed a stray include:"; echo "$out"; exit 1
fi
echo "$out" | grep -q 'device/link.cpp:3: device/ may not include "measurement/clock.h"'
echo "$out" | grep -q 'device/link.cpp:4: device/ may not include Qt'
echo "$out" | grep -q '2 stray includes'
sed -i '3,4d' "$tree/device/link.cpp"
"$check" "$tree"

#!/bin/sh
# Installs the build into a temporary prefix and compares what arrives with
# the expected list; the programs must run from there.
# Usage: install_tree_test.sh CMAKE BUILD_DIR EXPECTED ui|no-ui man|no-man APP_ID
set -u
CMAKE=$1 BUILD=$2 EXPECTED=$3 UI=$4 MAN=$5 APP_ID=$6
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
"$CMAKE" --install "$BUILD" --prefix "$WORK/prefix" >"$WORK/log" 2>&1 || { cat "$WORK/log"; exit 1; }

# The expected list, with lines tagged [ui] or [man] kept only when built.
sed -e "s/@APP_ID@/$APP_ID/" "$EXPECTED" | grep -v '^#' | grep -v '^$' | while read -r tag path; do
  case $tag in
    all) echo "$path" ;;
    ui) [ "$UI" = ui ] && echo "$path" ;;
    man) [ "$MAN" = man ] && echo "$path" ;;
    ui+man) [ "$UI" = ui ] && [ "$MAN" = man ] && echo "$path" ;;
  esac
done | sort >"$WORK/expected"
(cd "$WORK/prefix" && find . -type f -o -type l | sed 's|^\./||' | sort) >"$WORK/installed"
if ! diff -u "$WORK/expected" "$WORK/installed"; then
  echo "FAIL: the installed files differ from $EXPECTED (- expected, + installed)"
  exit 1
fi
for program in "$WORK"/prefix/bin/*; do
  [ -x "$program" ] || { echo "FAIL: $program is not executable"; exit 1; }
  env -u DISPLAY -u WAYLAND_DISPLAY "$program" --version >/dev/null ||
    { echo "FAIL: installed $program --version"; exit 1; }
done
echo "PASS: $(wc -l <"$WORK/installed") files installed as expected"

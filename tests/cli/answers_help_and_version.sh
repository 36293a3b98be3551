#!/bin/sh
# A program answers --help and --version on standard output with status 0,
# and refuses an unknown option with a short error and status 2; all without
# a display, a device or the driver library.
# Usage: answers_help_and_version.sh PROGRAM NAME
set -u
PROGRAM=$1 NAME=$2
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL: $NAME $*"; failures=$((failures + 1)); }

# No display of any kind, and Qt told to use X: a program that started its
# window here would abort instead of answering.
run() {
  env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb LD_LIBRARY_PATH= "$PROGRAM" "$@" \
    >"$WORK/out" 2>"$WORK/err" </dev/null
  status=$?
}

run --help
[ "$status" -eq 0 ] || fail "--help: status $status"
head -n 1 "$WORK/out" | grep -q "^Usage: $NAME " || fail "--help: no usage line: $(head -n 1 "$WORK/out")"
[ ! -s "$WORK/err" ] || fail "--help wrote to stderr: $(cat "$WORK/err")"

run --version
[ "$status" -eq 0 ] || fail "--version: status $status"
head -n 1 "$WORK/out" | grep -Eq "^$NAME [0-9]+\.[0-9]+" ||
  fail "--version: first line is '$(head -n 1 "$WORK/out")'"
[ ! -s "$WORK/err" ] || fail "--version wrote to stderr: $(cat "$WORK/err")"

run --no-such-option
[ "$status" -eq 2 ] || fail "unknown option: status $status, expected 2"
[ ! -s "$WORK/out" ] || fail "unknown option wrote to stdout: $(cat "$WORK/out")"
lines=$(wc -l <"$WORK/err")
if [ "$lines" -lt 1 ] || [ "$lines" -gt 3 ]; then fail "unknown option: $lines lines on stderr"; fi
grep -q "no-such-option" "$WORK/err" || fail "unknown option not named: $(cat "$WORK/err")"

[ "$failures" -eq 0 ] || exit 1
echo "PASS: $NAME --help, --version, unknown option"

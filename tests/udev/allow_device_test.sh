#!/bin/sh
# Runs capmeter-allow-device as a user would, into a temporary rules folder,
# with a stand-in udevadm that records any call (there must be none then).
# Usage: allow_device_test.sh PATH/TO/capmeter-allow-device
set -u
HELPER=$1
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
RULES=$WORK/rules
mkdir -p "$RULES" "$WORK/bin"
cat >"$WORK/bin/udevadm" <<'FAKE'
#!/bin/sh
echo "$*" >>"$UDEVADM_LOG"
FAKE
chmod +x "$WORK/bin/udevadm"
export UDEVADM_LOG="$WORK/udevadm.log"
export PATH="$WORK/bin:$PATH"
failures=0

check() {  # check WHAT CONDITION...
  what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}

# run ARGS...: sets status, out, err
# first_line_matches TEXT REGEX
first_line_matches() { printf '%s\n' "$1" | head -n 1 | grep -Eq "$2"; }
# contains TEXT FIXED
contains() { printf '%s\n' "$1" | grep -Fq -- "$2"; }

run() {
  "$HELPER" "$@" >"$WORK/out" 2>"$WORK/err"
  status=$?
  out=$(cat "$WORK/out")
  err=$(cat "$WORK/err")
}

run --help
check "--help exits 0" [ "$status" -eq 0 ]
check "--help prints the usage on stdout" \
  [ "$(printf '%s\n' "$out" | head -n 1)" = "Usage: capmeter-allow-device [options] VID:PID" ]
check "--help writes nothing on stderr" [ -z "$err" ]
run -h
check "-h is --help" [ "$status" -eq 0 ] && [ "${out#Usage: }" != "$out" ]

run --version
check "--version exits 0" [ "$status" -eq 0 ]
check "--version names the program and a version" \
  first_line_matches "$out" '^capmeter-allow-device [0-9]+\.[0-9]+'


# Bad command lines: exit 2, two short lines on stderr, nothing written.
for args in "" "--bogus 0000:abcd" "0000:abcd extra" "--rules-dir" "--group" \
  "0000" "0000:abc" "0000:abcde" "00000:abcd" "000g:abcd" "0000-abcd" \
  "0000:abcd:" "0x00:abcd" "--group=Bad! 0000:abcd" "--group=-x 0000:abcd"; do
  # shellcheck disable=SC2086 # the words are the arguments
  run $args --rules-dir "$RULES"
  check "refuses '$args' with status 2" [ "$status" -eq 2 ]
  check "says why in two lines for '$args'" [ "$(printf '%s\n' "$err" | wc -l)" -eq 2 ]
done
# Arguments with a newline or quote inside never reach a rule either.
run --rules-dir "$RULES" "$(printf '0000:abcd\nRUN+="/bin/sh"')"
check "refuses an ID with a line break" [ "$status" -eq 2 ]
run --rules-dir "$RULES" '0000:ab"d'
check "refuses an ID with a quote" [ "$status" -eq 2 ]
run --rules-dir "$RULES" ' 0000:abcd'
check "refuses an ID with a blank" [ "$status" -eq 2 ]
run --rules-dir "$RULES" '0000:abcd '
check "refuses an ID with a trailing blank" [ "$status" -eq 2 ]
check "no rule written by a refused command line" [ -z "$(ls -A "$RULES")" ]

# A rule, with the ID in lower case as sysfs spells it.
run --rules-dir "$RULES" 00aF:C0dE
check "writes a rule (status 0)" [ "$status" -eq 0 ]
RULE_FILE=$RULES/70-capmeter-00af-c0de.rules
check "the rule file is named by the ID" [ -f "$RULE_FILE" ]
check "exactly one rule line" [ "$(grep -cv '^#' "$RULE_FILE")" -eq 1 ]
expected='SUBSYSTEM=="usb", ENV{DEVTYPE}=="usb_device", ATTR{idVendor}=="00af", ATTR{idProduct}=="c0de", TAG+="uaccess", GROUP="plugdev", MODE="0660"'
check "the rule gives the seat and plugdev access" [ "$(grep -v '^#' "$RULE_FILE")" = "$expected" ]
check "the rule file is world-readable" [ "$(stat -c %a "$RULE_FILE")" = 644 ]
check "no leftover temporary file" [ "$(ls -A "$RULES")" = "70-capmeter-00af-c0de.rules" ]
check "udev left alone outside the system folder" [ ! -e "$UDEVADM_LOG" ]

run --print --group=dialout 0000:abcd
check "--print prints the rule with the group" contains "$out" 'GROUP="dialout"' 
check "--print writes nothing" [ ! -e "$RULES/70-capmeter-0000-abcd.rules" ]

run --rules-dir="$RULES" --remove 00AF:c0de
check "--remove succeeds" [ "$status" -eq 0 ]
check "--remove removes the rule" [ ! -e "$RULE_FILE" ]
run --rules-dir "$RULES" --remove 00af:c0de
check "--remove of a missing rule is no error" [ "$status" -eq 0 ]

run --rules-dir "$WORK/missing" 0000:abcd
check "a missing folder fails with status 1" [ "$status" -eq 1 ]
if [ "$(id -u)" -ne 0 ]; then
  chmod a-w "$RULES"
  run --rules-dir "$RULES" 0000:abcd
  check "an unwritable folder fails with status 1" [ "$status" -eq 1 ]
  chmod u+w "$RULES"
fi

check "udev never called for a private folder" [ ! -e "$UDEVADM_LOG" ]
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo PASS

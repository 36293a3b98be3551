#!/bin/sh
# Sourced by the end-to-end tests: a wait for one event, with the limit of its
# kind from tests/e2e/limits; a line for each wait in $CAPMETER_WAIT_LOG
# (seconds taken, limit, what), when it is set; and a failed wait says what
# it saw. The sourcing script may set WAIT_STDERR, the file the program's
# standard error goes to, and WAIT_SHOT, where a failed wait's screenshot of
# the whole screen goes (the working directory otherwise).
WAIT_LIMITS=${WAIT_LIMITS:-$(dirname "$0")/limits}
WAIT_STDERR=""
WAIT_SHOT=""

# Prints the limit in seconds of the kind of wait $1.
limit() {
  awk -v kind="$1" '$1 == kind { print $2; found = 1 } END { exit !found }' "$WAIT_LIMITS" ||
    { echo "no limit for \"$1\" in $WAIT_LIMITS" >&2; return 1; }
}

wait_now() { date +%s.%N; }
wait_seconds_since() { awk -v b="$1" -v e="$(wait_now)" 'BEGIN { printf "%.1f", e - b }'; }

# The windows on the screen, with their sizes and titles.
windows_present() {
  echo "windows on the screen (id, size, title):"
  for id in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
    size=$(xwininfo -id "$id" 2>/dev/null | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')
    printf '  %-10s %-9s "%s"\n' "$id" "$size" "$(xdotool getwindowname "$id" 2>/dev/null)"
  done
}

# What a failed wait saw, on standard error: its subject, the windows, the
# program's standard error so far and a screenshot.
wait_saw() {
  {
    echo "waited $1 s of $2 s (\"$3\" in tests/e2e/limits) for: $4"
    if [ -n "${DISPLAY:-}" ]; then
      windows_present
      wait_shot=${WAIT_SHOT:-$PWD/failed-wait-$$.png}
      import -window root "$wait_shot" 2>/dev/null && echo "screenshot of the screen: $wait_shot"
    fi
    if [ -n "$WAIT_STDERR" ] && [ -f "$WAIT_STDERR" ]; then
      echo "the program's standard error so far:"
      tr -d '\r' <"$WAIT_STDERR" | tail -n 40 | sed 's/^/  | /'
    fi
  } >&2
}

# Whether process $1 runs: not yet reaped, as from a command substitution, it
# is a zombie.
running() {
  kill -0 "$1" 2>/dev/null && awk '$3 == "Z" { exit 1 }' "/proc/$1/stat" 2>/dev/null
}

# Whether the program the script started, as $PID, has ended.
gone() { ! running "$PID"; }

# wait_until KIND WHAT COMMAND [ARGS...]: runs COMMAND every 0.1 s until it
# succeeds, for up to the limit of KIND. WHAT says what it waits for. A
# program the script started, as $PID, that has ended ends the wait too.
wait_until() {
  wait_kind=$1 wait_what=$2
  shift 2
  wait_limit=$(limit "$wait_kind") || return 1
  wait_began=$(wait_now)
  until "$@"; do
    wait_took=$(wait_seconds_since "$wait_began")
    # Ended between the look and here, it may have given what was waited for.
    if [ -n "${PID:-}" ] && ! running "$PID" && ! "$@"; then
      wait_log "$wait_took" "$wait_limit" "$wait_what (the program ended)"
      wait_saw "$wait_took" "$wait_limit" "$wait_kind" "$wait_what; the program ended first"
      return 1
    fi
    if awk -v t="$wait_took" -v l="$wait_limit" 'BEGIN { exit !(t >= l) }'; then
      wait_log "$wait_took" "$wait_limit" "$wait_what (timed out)"
      wait_saw "$wait_took" "$wait_limit" "$wait_kind" "$wait_what"
      return 1
    fi
    sleep 0.1
  done
  wait_log "$(wait_seconds_since "$wait_began")" "$wait_limit" "$wait_what"
}

# timed KIND WHAT COMMAND [ARGS...]: runs COMMAND, ended after the limit of
# KIND, a wait for its end; its exit status, 124 when ended so.
timed() {
  timed_kind=$1 timed_what=$2
  shift 2
  timed_limit=$(limit "$timed_kind") || return 1
  timed_began=$(wait_now)
  timed_status=0
  timeout "$timed_limit" "$@" || timed_status=$?
  timed_took=$(wait_seconds_since "$timed_began")
  if [ "$timed_status" -eq 124 ]; then
    wait_log "$timed_took" "$timed_limit" "$timed_what (timed out)"
    wait_saw "$timed_took" "$timed_limit" "$timed_kind" "$timed_what"
  else
    wait_log "$timed_took" "$timed_limit" "$timed_what"
  fi
  return "$timed_status"
}

wait_log() {
  [ -z "${CAPMETER_WAIT_LOG:-}" ] ||
    printf '%s\t%s\t%s: %s\n' "$1" "$2" "${WAIT_CONTEXT:-$(basename "$0")}" "$3" >>"$CAPMETER_WAIT_LOG"
}

# Prints the kind of wait for the first window or box of PROGRAM [ARGS...]:
# under Wine the first start of each program in the prefix has a limit of its
# own; the start is marked in the prefix, so later ones have the usual one.
start_kind() {
  case $(basename "$1") in
  wine*)
    wait_mark=$WINEPREFIX/capmeter-started/$(printf '%s' "$2" | cksum | cut -d' ' -f1)
    if [ -e "$wait_mark" ]; then
      echo window
    else
      mkdir -p "$(dirname "$wait_mark")" && : >"$wait_mark"
      echo wine_first_start
    fi
    ;;
  *) echo window ;;
  esac
}

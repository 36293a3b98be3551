#!/bin/sh
# A long series in capmeter-monitor on the simulated chip, for
# docs/performance.md: how long COUNT readings (default a million) take and
# the process's peak memory (GNU time); then, with as many readings still
# arriving, how soon Stop ends the series (the last growth of the log after
# the key) and how soon a close request ends the program.
# Run under an X server of its own:
#   tests/e2e/run_under_x.sh bench/monitor_million.sh build/monitor/capmeter-monitor
set -eu
PROGRAM=$1
COUNT=${2:-1000000}
HERE=$(dirname "$0")
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }
rows() { echo $(($(wc -l <"$WORK/log.csv") - 1)); }

# Starts the monitor with Count $1 (0: continuous) and presses Start.
start() {
  /usr/bin/time -v -o "$WORK/time" "$PROGRAM" --simulate --latency 0 --capacitance 1p \
    --slope 9.0909 --log "$WORK/log.csv" 2>"$WORK/stderr" &
  PID=$!
  win=""
  for _ in $(seq 100); do
    win=$(xdotool search --onlyvisible --name "^Capacitance Monitor\$" 2>/dev/null | head -n 1) ||
      true
    [ -n "$win" ] && break
    sleep 0.1
  done
  [ -n "$win" ] || { echo "no window"; exit 1; }
  xdotool windowfocus --sync "$win"
  xdotool key alt+o ctrl+a
  xdotool type "$1"
  started=$(now)
  xdotool key alt+s
}

start "$COUNT"
while [ "$(rows)" -lt "$COUNT" ]; do sleep 0.1; done
echo "$COUNT readings in $(since "$started") s (log rows $(rows))"
sleep 0.5
[ -z "${SHOT:-}" ] || import -window "$win" "$SHOT"
python3 "$(dirname "$HERE")/tests/e2e/close_window.py" "$win"
wait "$PID"
grep -E "Maximum resident|Elapsed|User time|System time" "$WORK/time"
awk -F, 'NR > 1 && $4 != "ok" { bad++ } END { print "readings not ok:", bad + 0 }' "$WORK/log.csv"

start 0
while [ "$(rows)" -lt "$COUNT" ]; do sleep 0.1; done
pressed=$(now)
xdotool key alt+t
size=$(wc -c <"$WORK/log.csv")
last=$pressed
still=0
while [ "$still" -lt 20 ]; do
  sleep 0.01
  now_size=$(wc -c <"$WORK/log.csv")
  if [ "$now_size" != "$size" ]; then size=$now_size last=$(now) still=0; else still=$((still + 1)); fi
done
echo "Stop after $(rows) readings: the log stopped growing $(awk -v a="$pressed" -v b="$last" \
  'BEGIN { printf "%.3f", b - a }') s after the key"
# Timed from when the request is sent (Python's start is slow on a busy machine).
python3 "$(dirname "$HERE")/tests/e2e/close_window.py" "$win"
asked=$(now)
wait "$PID"
echo "close request sent to exit: $(since "$asked") s"

#!/bin/sh
# cpu_share.sh: runs a program and says what processor time it took per
# second of its life: user and system time in all, then each thread's share
# of one core. Threads are read from /proc every 50 ms, so a thread that
# ended early counts with its last reading.
#
# Usage: bench/cpu_share.sh PROGRAM [ARGUMENTS...]
# The program's own output goes where it would; the figures to standard
# error, one line for the whole and one per thread.
# e.g. bench/cpu_share.sh build/cli/capmeter-cli measure --simulate \
#        --capacitance 1000u --timing stream --format csv
set -eu

if [ "$#" -eq 0 ]; then
  echo "usage: bench/cpu_share.sh PROGRAM [ARGUMENTS...]" >&2
  exit 2
fi

ticks=$(getconf CLK_TCK)
kept=$(mktemp)
trap 'rm -f "$kept"' EXIT

started=$(date +%s.%N)
"$@" &
pid=$!
# Each reading: tid name utime stime (in ticks), the newest per thread; the
# process's own line first, as "whole", which counts ended threads too.
while kill -0 "$pid" 2>/dev/null; do
  for stat in /proc/"$pid"/stat /proc/"$pid"/task/*/stat; do
    [ -r "$stat" ] || continue
    id=$(basename "$(dirname "$stat")")
    [ "$id" = "$pid" ] && [ "$stat" = /proc/"$pid"/stat ] && id=whole
    # The name is in parentheses and may hold spaces: cut after the last ")".
    sed 's/^\([0-9]*\) (\(.*\)) \(.*\)$/\1 \2|\3/' "$stat" 2>/dev/null |
      awk -F'|' -v id="$id" '{ split($1, head, " "); split($2, f, " ");
                   name = substr($1, length(head[1]) + 2); gsub(/ /, "_", name);
                   print id, name, f[12], f[13] }' >>"$kept" || true
  done
  sleep 0.05
done
status=0
wait "$pid" || status=$?
ended=$(date +%s.%N)

awk -v ticks="$ticks" -v pid="$pid" -v started="$started" -v ended="$ended" '
  BEGIN { wall = ended - started }
  { name[$1] = $2; user[$1] = $3; sys[$1] = $4 }
  END {
    u = user["whole"]; s = sys["whole"]; delete name["whole"]
    printf "wall %.2f s; user %.2f s, system %.2f s; per second: user %.3f, system %.3f\n",
           wall, u / ticks, s / ticks, u / ticks / wall, s / ticks / wall
    for (t in name)
      printf "  thread %s (%s%s): user %.2f s, system %.2f s, %.1f %% of a core\n",
             t, name[t], t == pid ? ", main" : "", user[t] / ticks, sys[t] / ticks,
             100 * (user[t] + sys[t]) / ticks / wall
  }' "$kept" >&2
exit "$status"

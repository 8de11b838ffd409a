#!/bin/bash
# Runs the program headless for MINUTES on one generated track a minute longer
# than that, samples its RSS and CPU once a second into LOG, then quits it
# with Esc. Fails if it dies early, does not exit cleanly on Esc, or its RSS
# grows by more than 1 MB after the first minute.
# Usage: bench/soak.sh PROGRAM TRACK_TOOL MINUTES [LOG]
set -euo pipefail
program=$(realpath "$1")
track_tool=$(realpath "$2")
minutes=$3
log=$(realpath -m "${4:-soak.log}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "soak: writing a $((minutes + 1))-minute track"
"$track_tool" "$work/1.mp3" $(((minutes + 1) * 60))
cd "$work"

xvfb-run -a -s "-screen 0 640x640x24" bash -c '
    set -u
    minutes=$1; log=$2
    SDL_AUDIODRIVER=dummy "$0" 2>soak.err &
    pid=$!
    hz=$(getconf CLK_TCK)
    echo "second rss_kb cpu_percent" >"$log"
    last=0 last_s=0
    while ((SECONDS < minutes * 60)); do
        sleep 1
        s=$SECONDS
        if ! kill -0 $pid 2>/dev/null; then
            wait $pid; echo "soak: the program exited after $s s (status $?)"; exit 1
        fi
        rss=$(awk "/^VmRSS/ {print \$2}" /proc/$pid/status)
        ticks=$(awk "{print \$14 + \$15}" /proc/$pid/stat)
        echo "$s $rss $(((ticks - last) * 100 / hz / (s - last_s)))" >>"$log"
        last=$ticks last_s=$s
    done
    xdotool key --window "$(xdotool search --onlyvisible --pid $pid | head -1)" Escape
    wait $pid || { echo "soak: Esc did not end the program cleanly (status $?)"; exit 1; }
    ' "$program" "$minutes" "$log"

# RSS after the first minute against its largest value from then on.
awk -v file="$log" '
    NR == 1 { next }
    $1 >= 60 && base == "" { base = $2 }
    $1 >= 60 && $2 > peak { peak = $2 }
    $1 > 1 { cpu += $3; n++ }
    END {
        printf "soak: %s: RSS %d kB at 60 s, peak after %d kB (growth %d kB), mean CPU %.1f%%\n",
               file, base, peak, peak - base, cpu / n
        if (peak - base > 1024) { print "soak: RSS grew by more than 1 MB"; exit 1 }
    }' "$log"

#!/bin/bash
# The whole program side by side with ffplay, on one generated track, under
# one Xvfb with SDL's dummy audio driver, runs interleaved:
#   A   music-spheres (its probe build: the same code, plus link-time hooks
#       that stamp the first audio callback and every 50th tick)
#   A0  the same with glibc's default heap trimming (mallopt ignored)
#   B   ffplay -showmode rdft in a 512 x 512 window
#   C   ffplay -nodisp, playing only
#   D   the drawing floor: our window, ticks and frames, no music at all
# Then A's first frame on a 5 s and a 10 min file, and a minute of A's ticks.
# Usage: bench/compare.sh BUILD TRACK_TOOL [SECONDS_PER_RUN] [RUNS]
set -euo pipefail
if [ -z "${COMPARE_IN_XVFB:-}" ]; then
    COMPARE_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
build=$(realpath "$1")
track_tool=$(realpath "$2")
seconds=${3:-20}
runs=${4:-3}
export SDL_AUDIODRIVER=dummy
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/short" "$work/long"
"$track_tool" "$work/1.mp3" 75
"$track_tool" "$work/short/1.mp3" 5
"$track_tool" "$work/long/1.mp3" 600
results=$work/results

# run NAME DIR SECONDS WINDOW(0|1) PROGRAM [ARGS...]: one measured run, one
# line in results: name frame_ms cpu_per_s hwm_mb callback_ms ticks_per_s
run() {
    local name=$1 dir=$2 secs=$3 window=$4 line
    shift 4
    line=$(cd "$dir" && "$build/bench-measure" "$secs" "$window" "$@" 2>"$work/err") ||
        echo "compare: $name stopped early" >&2
    awk -v name="$name" -v m="$line" '
        BEGIN { n = split(m, kv, /[ =]/); for (i = 1; i < n; i += 2) v[kv[i]] = kv[i + 1] }
        /^probe: first audio callback/ { cb = ($5 - v["t0_ns"]) / 1e6 }
        /^probe: tick/ { if (!t1) { n1 = $3; t1 = $4 } n2 = $3; t2 = $4 }
        END {
            frame = v["frame_ms"] < 0 ? "-" : v["frame_ms"]
            callback = cb ? sprintf("%.1f", cb) : "-"
            rate = t2 > t1 ? sprintf("%.3f", (n2 - n1) / ((t2 - t1) / 1e9)) : "-"
            printf "%s %s %.4f %.1f %s %s\n", name, frame, v["cpu_s"] / v["wall_s"],
                v["hwm_kb"] / 1024, callback, rate
        }' "$work/err" | tee -a "$results"
}

# median (min-max) of column COL for NAME, or "-" where it does not apply
stat() {
    awk -v name="$1" -v col="$2" '$1 == name && $col != "-" { print $col }' "$results" | sort -g |
        awk '{ v[NR] = $1 } END {
            if (NR == 0) { print "-"; exit }
            m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
            printf "%.4g (%.4g-%.4g)\n", m, v[1], v[NR] }'
}
median() { stat "$1" "$2" | cut -d' ' -f1; }

echo "compare: $runs rounds of $seconds s each, $(nproc) cores, $(date -u +%F)"
for ((r = 1; r <= runs; r++)); do
    run A "$work" "$seconds" 1 "$build/music-spheres-probe"
    run A0 "$work" "$seconds" 1 "$build/music-spheres-trimming"
    run B "$work" "$seconds" 1 ffplay -loglevel quiet -showmode rdft -x 512 -y 512 -autoexit 1.mp3
    run C "$work" "$seconds" 0 ffplay -loglevel quiet -nodisp -autoexit 1.mp3
    run D "$work" "$seconds" 1 "$build/music-spheres-floor"
done
for ((r = 1; r <= runs; r++)); do
    run A-5s "$work/short" 3 1 "$build/music-spheres-probe"
    run A-10min "$work/long" 3 1 "$build/music-spheres-probe"
done
run A-minute "$work" 62 1 "$build/music-spheres-probe"

echo
echo "median (min-max) over $runs runs of $seconds s"
printf '%-9s %-26s %-26s %-26s %-26s %s\n' program "first frame ms" "CPU s per s of music" \
    "peak RSS MB" "first callback ms" "ticks per s"
for name in A A0 B C D A-5s A-10min A-minute; do
    printf '%-9s %-26s %-26s %-26s %-26s %s\n' "$name" "$(stat $name 2)" "$(stat $name 3)" \
        "$(stat $name 4)" "$(stat $name 5)" "$(stat $name 6)"
done

echo
echo "A against the others (ratio of medians)"
for other in A0 B C D; do
    awk -v o="$other" -v fa="$(median A 2)" -v fo="$(median "$other" 2)" \
        -v ca="$(median A 3)" -v co="$(median "$other" 3)" \
        -v ra="$(median A 4)" -v ro="$(median "$other" 4)" 'BEGIN {
        printf "A/%-3s CPU %.2f  peak RSS %.2f  first frame %s\n", o, ca / co, ra / ro,
               fo == "-" ? "-" : sprintf("%.2f", fa / fo) }'
done

echo
echo "goals"
awk -v ca="$(median A 3)" -v cb="$(median B 3)" -v cd="$(median D 3)" \
    -v ra="$(median A 4)" -v rb="$(median B 4)" -v fa="$(median A 2)" \
    -v f5="$(median A-5s 2)" -v f10="$(median A-10min 2)" -v t="$(median A-minute 6)" '
    function goal(ok, text) { printf "%-5s %s\n", ok ? "met" : "MISS", text }
    BEGIN {
        goal(ca <= cb, sprintf("CPU per s of music %.4f <= ffplay rdft %.4f", ca, cb))
        goal(ca - cd < 0.02, sprintf("CPU over the floor %.4f < 0.02 of a core", ca - cd))
        goal(ra <= 0.7 * rb, sprintf("peak RSS %.1f MB <= 0.7 x ffplay rdft %.1f MB", ra, rb))
        goal(fa <= 150 && f5 <= 150 && f10 <= 150,
             sprintf("first frame %.0f ms (5 s file %.0f, 10 min file %.0f) <= 150 ms", fa, f5, f10))
        goal(t >= 49.5 && t <= 50.5, sprintf("ticks over a minute %.3f per s, 50 +- 1%%", t))
    }'

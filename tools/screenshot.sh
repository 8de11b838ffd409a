#!/bin/bash
# Takes the README's picture of the window: runs the built program headless
# under Xvfb in a scratch directory (with 1.mp3 there if MUSIC is given),
# waits SECONDS, and saves the window as a PNG.
# Usage: tools/screenshot.sh PROGRAM OUT.png [SECONDS] [MUSIC]
set -euo pipefail
program=$(realpath "$1")
out=$(realpath "$2")
seconds=${3:-1}
music=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -n "$music" ]; then cp "$music" "$work/1.mp3"; fi
cd "$work"
xvfb-run -a -s "-screen 0 640x640x24" bash -c '
    SDL_AUDIODRIVER=dummy "$1" -geometry +0+0 2>/dev/null &
    pid=$!
    sleep "$2"
    import -window "$(xdotool search --sync --onlyvisible --name "анимации" | head -1)" "$3"
    kill $pid' _ "$program" "$seconds" "$out"
echo "wrote $out"

#!/bin/bash
# Runs the audio fuzzer for SECONDS: writes a fresh seed corpus, keeps what
# the fuzzer learns in BUILD/corpus between runs, and leaves any input that
# crashes, leaks or hangs in BUILD/findings. Fails if there is one.
# Usage: fuzz/run.sh BUILD SECONDS
set -euo pipefail
build=$(realpath "$1")
seconds=$2
suppressions=$(realpath "$(dirname "$0")/../tests/lsan.supp")
mkdir -p "$build/seeds" "$build/corpus" "$build/findings"
"$build/fuzz_seeds" "$build/seeds"

# Stderr of the decoders (mpg123 complains of every damaged frame) is closed;
# libFuzzer and the sanitizers still report on their own descriptor.
status=0
LSAN_OPTIONS=suppressions=$suppressions SDL_AUDIODRIVER=dummy \
    "$build/audio_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -close_fd_mask=2 -print_final_stats=1 -artifact_prefix="$build/findings/" \
    "$build/corpus" "$build/seeds" >"$build/fuzz.log" 2>&1 || status=$?
grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done )' "$build/fuzz.log" || true
grep -E 'ERROR|SUMMARY|deadly|Test unit written' "$build/fuzz.log" || true
echo "fuzz: corpus $(ls "$build/corpus" | wc -l) inputs, findings $(ls "$build/findings" | wc -l), log $build/fuzz.log"
exit $status

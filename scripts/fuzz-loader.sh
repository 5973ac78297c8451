#!/usr/bin/env bash
# Builds the file loader's libFuzzer target with clang and runs it for SECONDS (default 60) over
# a small seed corpus of generated audio files.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
dir=build-fuzz
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVORNIK_FUZZ=ON -DVORNIK_BUILD_TESTS=OFF -DVORNIK_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" --target vornik-fuzz-loader

seeds="$dir/seeds"
mkdir -p "$seeds" "$dir/corpus"
sox -q -n -r 8000 -c 1 -b 16 "$seeds/mono16.wav" synth 0.02 sine 440
sox -q -n -r 44100 -c 2 -b 24 "$seeds/stereo24.wav" synth 0.01 square 220
sox -q -n -r 48000 -c 2 -e floating-point -b 32 "$seeds/float.wav" synth 0.01 sine 330
sox -q -n -r 22050 -c 1 "$seeds/tone.flac" synth 0.02 sine 550
sox -q -n -r 44100 -c 2 "$seeds/tone.aiff" synth 0.01 sine 660
sox -q -n -r 44100 -c 2 "$seeds/tone.ogg" synth 0.05 sine 770 2>/dev/null || true

LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp" \
  "$dir/tools/fuzz-loader/vornik-fuzz-loader" -artifact_prefix="$dir/" -max_total_time="$seconds" -rss_limit_mb=4096 \
  -timeout=20 -print_final_stats=1 "$dir/corpus" "$seeds"

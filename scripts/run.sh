#!/usr/bin/env bash
# Builds the instrument (Release) and opens it. With no arguments it opens the demo sample;
# arguments go to the program (vornik [FILE] [--zoom N] [--midi none|all|NAME] [--help] ...).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build --target vornik
if [ $# -eq 0 ]; then
  set -- assets/demo.wav
fi
exec ./build/src/vornik "$@"

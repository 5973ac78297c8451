#!/usr/bin/env bash
# Builds the instrument (Release) and opens it. With no arguments it opens where it was left, or
# the demo sample when no sample was kept; arguments go to the program
# (vornik [FILE] [--zoom N] [--fresh] [--midi none|all|NAME] [--midi-channel N] [--help] ...).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build --target vornik
state="${XDG_STATE_HOME:-$HOME/.local/state}/vornik/state.conf"
if [ $# -eq 0 ] && ! grep -q '^sample = ' "$state" 2>/dev/null; then
  set -- assets/demo.wav
fi
exec ./build/src/vornik "$@"

#!/usr/bin/env bash
# Builds the instrument (Release) and runs it; arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build --target vornik
exec ./build/src/vornik "$@"

#!/usr/bin/env bash
# Builds everything (Release) and runs every test. Needs the packages of install-deps.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VORNIK_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure --timeout 300 -j "$(nproc)"

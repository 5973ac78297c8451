#!/usr/bin/env bash
# Draws the window pictures and button images and synthesises the demo sample into assets/,
# with our own generators. The files are committed; run this after changing the drawing.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build --target assetgen demosample
./build/tools/assetgen/assetgen assets
./build/tools/demosample/demosample assets/demo.wav

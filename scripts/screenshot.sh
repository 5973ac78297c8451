#!/usr/bin/env bash
# Takes the README's screenshot: the window on the demo sample under Xvfb (xvfb-run), light
# appearance, written by the program itself to docs/screenshot.png.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build --target vornik
SDL_AUDIODRIVER=dummy SDL_VIDEODRIVER=x11 VORNIK_APPEARANCE=light \
  xvfb-run -a -s "-screen 0 1024x768x24" \
  ./build/src/vornik assets/demo.wav --frames 30 --screenshot docs/screenshot.png

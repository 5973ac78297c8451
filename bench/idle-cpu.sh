#!/usr/bin/env bash
# Idle CPU use of the program: the instrument bar on the demo sample (a fresh start: the kept
# state neither read nor changed), nothing touched, measured over 10 seconds after a 2-second
# start. Targets: at most 10% of one core for the program, 1% for its audio thread (SDL's own,
# "SDLAudio...": SDL's dummy driver alone, with an empty callback, takes about 1.4% on the
# development machine, waking every millisecond for a 64-frame buffer).
#
# Runs the window under Xvfb (xvfb-run) when it is installed, else on SDL's offscreen video
# driver; sound goes to SDL's dummy driver unless SDL_AUDIODRIVER says otherwise (the audio
# thread's work is counted: it renders the graph whatever it plays). Needs a Release build:
#   cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release && cmake --build build --target vornik
# Settings: IDLE_SECONDS (10), VORNIK_BIN (build/src/vornik), IDLE_VIDEO (xvfb or offscreen).
set -euo pipefail
cd "$(dirname "$0")/.."

bin=${VORNIK_BIN:-build/src/vornik}
seconds=${IDLE_SECONDS:-10}
target=10
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
export VORNIK_APPEARANCE=${VORNIK_APPEARANCE:-light}

if [ ! -x "$bin" ]; then
  echo "idle-cpu: $bin is missing; build it first (see the top of this script)" >&2
  exit 2
fi

if [ "${1:-}" != "--inside" ]; then
  video=${IDLE_VIDEO:-}
  if [ -z "$video" ]; then
    if command -v xvfb-run >/dev/null; then video=xvfb; else video=offscreen; fi
  fi
  if [ "$video" = xvfb ]; then
    export SDL_VIDEODRIVER=x11
    exec xvfb-run -a -s "-screen 0 1920x1080x24" "$0" --inside xvfb
  fi
  export SDL_VIDEODRIVER=offscreen
  exec "$0" --inside offscreen
fi
video=$2

ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
thread_ticks() {
  for task in /proc/"$1"/task/*; do
    [ -r "$task/stat" ] || continue
    printf '%s %s\n' "$(basename "$task")" "$(sed -E 's/^[0-9]+ \((.*)\) .*/\1/' "$task/stat" | tr ' ' '_'):$(awk '{ print $14 + $15 }' "$task/stat" 2>/dev/null || echo 0)"
  done
}

log=$(mktemp)
"$bin" --fresh assets/demo.wav 2>"$log" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; rm -f "$log"' EXIT
sleep 2
if ! kill -0 "$pid" 2>/dev/null; then
  echo "idle-cpu: the program ended early:" >&2
  cat "$log" >&2
  exit 1
fi
t0=$(ticks "$pid")
before=$(thread_ticks "$pid")
s0=$(date +%s.%N)
sleep "$seconds"
t1=$(ticks "$pid")
after=$(thread_ticks "$pid")
s1=$(date +%s.%N)
kill "$pid"
wait "$pid" 2>/dev/null || true

hz=$(getconf CLK_TCK)
percent=$(awk -v a="$t0" -v b="$t1" -v hz="$hz" -v s0="$s0" -v s1="$s1" \
  'BEGIN { printf "%.1f", 100 * (b - a) / hz / (s1 - s0) }')
echo "idle CPU ($video video, $SDL_AUDIODRIVER audio, instrument bar, demo sample):" \
  "$percent% of one core over $seconds s (target at most $target%)"
echo "per thread, % of one core:"
join <(echo "$before" | sort) <(echo "$after" | sort) | awk -v hz="$hz" -v s0="$s0" -v s1="$s1" '{
  split($2, a, ":"); split($3, b, ":");
  printf "  %-16s %5.1f\n", a[1], 100 * (b[2] - a[2]) / hz / (s1 - s0) }'
join <(echo "$before" | sort) <(echo "$after" | sort) | awk -v hz="$hz" -v s0="$s0" -v s1="$s1" '{
  split($2, a, ":"); split($3, b, ":");
  if (a[1] ~ /^SDLAudio/) audio += 100 * (b[2] - a[2]) / hz / (s1 - s0) }
  END { printf "audio thread: %.1f%% of one core (target at most 1%%)\n", audio }'
awk -v p="$percent" -v t="$target" 'BEGIN { exit !(p <= t) }'

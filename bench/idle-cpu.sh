#!/usr/bin/env bash
# Idle CPU use of the program: the instrument bar on the demo sample (a fresh start: the kept
# state neither read nor changed), nothing touched, measured over 10 seconds after a 2-second
# start. Targets: at most 10% of one core for the program, 1% for its audio thread (SDL's own,
# "SDLAudio..."). Beside it runs bench's sdl-audio-floor: SDL audio opened the same way with an
# empty callback, the floor under any work of ours (SDL's dummy driver wakes every millisecond
# for a 64-frame buffer, every 5 ms for 256: IDLE_BUFFER passes --buffer).
# bench/playing-cpu.sh runs the same with 64 voices held (--hold-voices).
#
# Runs the window under Xvfb (xvfb-run) when it is installed, else on SDL's offscreen video
# driver; sound goes to SDL's dummy driver unless SDL_AUDIODRIVER says otherwise (the audio
# thread's work is counted: it renders the graph whatever it plays). Needs a Release build:
#   cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release && cmake --build build --target vornik
# Settings: IDLE_SECONDS (10), VORNIK_BIN (build/src/vornik), IDLE_BUFFER (64: frames asked of
# SDL audio), IDLE_AUDIO (sdl, or jack: a JACK server of its own, jackd's dummy driver at
# 48000 Hz and IDLE_BUFFER frames, the audio thread being "vornik-jack"), IDLE_VIDEO (xvfb or
# offscreen),
# IDLE_VOICES (0: voices held), IDLE_TARGET (10: percent of one core). SDL's own variables pass
# through (SDL_RENDER_DRIVER=software|opengl|opengles2 picks the renderer).
set -euo pipefail
cd "$(dirname "$0")/.."

bin=${VORNIK_BIN:-build/src/vornik}
seconds=${IDLE_SECONDS:-10}
voices=${IDLE_VOICES:-0}
target=${IDLE_TARGET:-10}
buffer=${IDLE_BUFFER:-64}
audio=${IDLE_AUDIO:-sdl}
floor=$(dirname "$bin")/../bench/sdl-audio-floor
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

# CPU time as the scheduler counts it, in nanoseconds (schedstat): the tick-sampled times of
# /proc/PID/stat are too coarse for a thread that runs a few microseconds a millisecond.
ticks() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%d\n", s }'; }
thread_ticks() {
  for task in /proc/"$1"/task/*; do
    [ -r "$task/schedstat" ] || continue
    printf '%s %s\n' "$(basename "$task")" "$(tr ' ' '_' <"$task/comm"):$(awk '{ print $1 }' "$task/schedstat" 2>/dev/null || echo 0)"
  done
}

log=$(mktemp)
# The kept state stays out of it (held voices change the play mode).
state=$(mktemp -d)
jackPid=
audioArgs=(--buffer "$buffer")
audioThread='^SDLAudio'
if [ "$audio" = jack ]; then
  export JACK_DEFAULT_SERVER=vornik-idle-$$
  jackd -n "$JACK_DEFAULT_SERVER" --no-realtime -d dummy -r 48000 -p "$buffer" >/dev/null 2>&1 &
  jackPid=$!
  if ! jack_wait -w -s "$JACK_DEFAULT_SERVER" -t 10 >/dev/null 2>&1; then
    echo "idle-cpu: the JACK server did not start" >&2
    kill "$jackPid" 2>/dev/null || true
    exit 1
  fi
  audioArgs=(--audio jack --no-connect)
  audioThread='^vornik-jack'
fi
XDG_STATE_HOME=$state "$bin" --fresh "${audioArgs[@]}" --hold-voices "$voices" assets/demo.wav \
  2>"$log" &
pid=$!
floorPid=
if [ "$audio" = sdl ] && [ -x "$floor" ] && [ "$voices" -eq 0 ]; then  # playing, it would only disturb the figure
  "$floor" $((seconds + 4)) "$buffer" &
  floorPid=$!
fi
trap 'kill "$pid" $floorPid 2>/dev/null || true; wait "$pid" 2>/dev/null || true
  if [ -n "$jackPid" ]; then kill "$jackPid" 2>/dev/null || true; wait "$jackPid" 2>/dev/null || true; fi
  rm -f "$log"; rm -rf "$state"' EXIT
sleep 2
if ! kill -0 "$pid" 2>/dev/null; then
  echo "idle-cpu: the program ended early:" >&2
  cat "$log" >&2
  exit 1
fi
# The X server draws what the program sends it: shown beside, not counted.
server=
if [ "$video" = xvfb ]; then
  server=$(ps -eo pid=,args= | awk -v d="${DISPLAY:-}" '$2 ~ /Xvfb$/ && $3 == d { print $1; exit }')
fi
t0=$(ticks "$pid")
x0=$([ -n "$server" ] && ticks "$server" || echo 0)
before=$(thread_ticks "$pid")
floorBefore=$([ -n "$floorPid" ] && thread_ticks "$floorPid" || true)
s0=$(date +%s.%N)
sleep "$seconds"
t1=$(ticks "$pid")
x1=$([ -n "$server" ] && ticks "$server" || echo 0)
after=$(thread_ticks "$pid")
floorAfter=$([ -n "$floorPid" ] && thread_ticks "$floorPid" || true)
s1=$(date +%s.%N)
kill "$pid" $floorPid 2>/dev/null || true
wait "$pid" 2>/dev/null || true

hz=1000000000  # the counts are nanoseconds
percent=$(awk -v a="$t0" -v b="$t1" -v hz="$hz" -v s0="$s0" -v s1="$s1" \
  'BEGIN { printf "%.1f", 100 * (b - a) / hz / (s1 - s0) }')
what=idle
[ "$voices" -gt 0 ] && what="$voices voices playing"
renderer=$(sed -n 's/^vornik: drawing with //p' "$log" | head -n 1)
audioName=$SDL_AUDIODRIVER
[ "$audio" = jack ] && audioName="JACK dummy $buffer-frame"
echo "$what CPU ($video video, ${renderer:-unknown renderer}, $audioName audio," \
  "instrument bar, demo sample): $percent% of one core over $seconds s (target at most $target%)"
echo "per thread, % of one core:"
join <(echo "$before" | sort) <(echo "$after" | sort) | awk -v hz="$hz" -v s0="$s0" -v s1="$s1" '{
  split($2, a, ":"); split($3, b, ":");
  printf "  %-16s %5.1f\n", a[1], 100 * (b[2] - a[2]) / hz / (s1 - s0) }'
join <(echo "$before" | sort) <(echo "$after" | sort) | awk -v hz="$hz" -v s0="$s0" -v s1="$s1" \
  -v voices="$voices" -v pattern="$audioThread" '{
  split($2, a, ":"); split($3, b, ":");
  if (a[1] ~ pattern) audio += 100 * (b[2] - a[2]) / hz / (s1 - s0) }
  END { printf "audio thread: %.1f%% of one core%s\n", audio,
    (voices > 0 ? "" : " (target at most 1%)") }'
if [ -n "$floorPid" ]; then
  join <(echo "$floorBefore" | sort) <(echo "$floorAfter" | sort) | awk -v hz="$hz" -v s0="$s0" \
    -v s1="$s1" -v buffer="$buffer" '{
    split($2, a, ":"); split($3, b, ":");
    if (a[1] ~ /^SDLAudio/) audio += 100 * (b[2] - a[2]) / hz / (s1 - s0) }
    END { printf "SDL audio alone, empty callback, %d-frame buffer (the floor): %.1f%% of one core\n",
      buffer, audio }'
fi
sed -n 's/^vornik: \([0-9]* display frames run.*\) in \([0-9.]*\) s$/\1 \2/p' "$log" |
  awk '{ printf "frames over the whole run: %d run, %d presented %s %s %s, %.0f presented a second\n",
    $1, $5, $7, $8, $9, $5 / $10 }'
if [ -n "$server" ]; then
  awk -v a="$x0" -v b="$x1" -v hz="$hz" -v s0="$s0" -v s1="$s1" \
    'BEGIN { printf "the X server (Xvfb, not counted): %.1f%% of one core\n", 100 * (b - a) / hz / (s1 - s0) }'
fi
awk -v p="$percent" -v t="$target" 'BEGIN { exit !(p <= t) }'

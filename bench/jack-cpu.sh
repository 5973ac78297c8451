#!/usr/bin/env bash
# The JACK process callback's share of the period at 64 voices (every effect on), on a JACK
# server of its own (jackd's dummy driver, no sound card needed) at 48000 Hz / 64 frames and at
# 44100 Hz / 256 frames (the graph converted). Reports the callback's mean and peak share of the
# period and the server's own jack_cpu_load.
# Needs a Release build of vornik-bench:
#   cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release && cmake --build build --target vornik-bench
# Settings: JACK_BENCH_SECONDS (5), VORNIK_BENCH (build/bench/vornik-bench).
set -euo pipefail
cd "$(dirname "$0")/.."

bench=${VORNIK_BENCH:-build/bench/vornik-bench}
if [ ! -x "$bench" ]; then
  echo "jack-cpu: $bench is missing; build it first (see the top of this script)" >&2
  exit 2
fi
if ! command -v jackd >/dev/null; then
  echo "jack-cpu: jackd is missing (Debian package jackd2)" >&2
  exit 2
fi

server=vornik-bench-$$
export JACK_DEFAULT_SERVER=$server
pid=
stop_server() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=
  fi
}
trap stop_server EXIT

for setting in "48000 64" "44100 256"; do
  set -- $setting
  jackd -n "$server" --no-realtime -d dummy -r "$1" -p "$2" >/dev/null 2>&1 &
  pid=$!
  if ! jack_wait -w -s "$server" -t 10 >/dev/null 2>&1; then
    echo "jack-cpu: the JACK server did not start" >&2
    exit 1
  fi
  echo "== $1 Hz, $2 frames per period"
  "$bench" --benchmark_filter='^Jack/' --benchmark_counters_tabular=true 2>&1 |
    grep -E '^(Jack|Benchmark|-)|ERROR'
  stop_server
done

#!/usr/bin/env bash
# Times the instrument's loader against sox on the benchmark's ten-minute 44.1 kHz stereo WAV and
# FLAC files, side by side (best of several runs, whole processes), and shows the loader's peak
# memory against the decoded size. Target: no slower than sox, peak at most twice the decoded size.
#
#   bash bench/load-vs-sox.sh [BUILD_DIR] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}
tool=$build/tools/loadtime/vornik-loadtime
if [ ! -x "$tool" ]; then
  echo "load-vs-sox: build first: cmake --build $build --target vornik-loadtime" >&2
  exit 1
fi
command -v sox >/dev/null || { echo "load-vs-sox: sox is missing (scripts/install-deps.sh)" >&2; exit 1; }

dir=${TMPDIR:-/tmp}/vornik-bench
mapfile -t files < <("$tool" --make "$dir")

# Best wall time of $runs runs of a command, in seconds.
best_of() {
  local best="" t
  for _ in $(seq "$runs"); do
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    t=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
    if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
  done
  printf '%.3f' "$best"
}

printf '%-18s %12s %12s %8s\n' file "vornik (s)" "sox (s)" ratio
for f in "${files[@]}"; do
  cat "$f" >/dev/null  # both read from the page cache
  ours=$(best_of "$tool" "$f")
  theirs=$(best_of sox "$f" -t f32 /dev/null)
  printf '%-18s %12s %12s %8.2f\n' "$(basename "$f")" "$ours" "$theirs" "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { print a / b }')"
done

echo
echo "in-process load time and memory (best of $runs):"
for f in "${files[@]}"; do
  printf '%-18s ' "$(basename "$f")"
  "$tool" "$f" "$runs"
done
if [ -x /usr/bin/time ]; then
  echo
  echo "maximum resident set size of one load, by /usr/bin/time -v:"
  for f in "${files[@]}"; do
    kb=$(/usr/bin/time -v "$tool" "$f" 2>&1 >/dev/null | awk -F': ' '/Maximum resident/ {print $2}')
    printf '%-18s %8.1f MB\n' "$(basename "$f")" "$(awk -v k="$kb" 'BEGIN { print k * 1024 / 1e6 }')"
  done
fi

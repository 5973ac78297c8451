#!/usr/bin/env bash
# Soak: a random performance of SECONDS (default 600) over every play mode, with loads, drops,
# mode switches, slice, transposition and effect changes (loads include a file that is not audio
# and one of huge float values), rendered by vornik-render --check:
# it fails on NaN or infinity in the mix or a voice still on at the end, and prints the speed
# as a multiple of real time.
#   bench/soak.sh [SECONDS] [BUILD_DIR] [SEED]
set -euo pipefail
seconds=${1:-600}
build=${2:-build}
seed=${3:-1}
tool="$build/tools/render/vornik-render"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sox -q -n -r 44100 -c 2 "$work/a.wav" synth 4 pluck C3 pluck E3 pluck G3 tremolo 3
sox -q -n -r 48000 -c 1 "$work/b.wav" synth 2 sine 110-880
sox -q -n -r 22050 -c 2 "$work/c.flac" synth 0.5 noise fade 0 0.5 0.4
printf 'not audio' > "$work/d.wav"
# A float WAV of huge finite values (+-3e38): the loader clamps them, and nothing downstream may
# turn them into NaN or infinity.
perl -e 'my $d = pack("f<*", map { $_ % 3 ? 3e38 : -3e38 } 0 .. 2 * 22050 - 1);
  print "RIFF", pack("V", 36 + length $d), "WAVEfmt ", pack("VvvVVvv", 16, 3, 2, 44100, 352800, 8, 32),
  "data", pack("V", length $d), $d' > "$work/e.wav"

awk -v seconds="$seconds" -v seed="$seed" 'BEGIN {
  srand(seed);
  print "strip 1085 30";
  print "length " seconds;
  print "at 0 load a.wav";
  end = seconds - 6;  # every finger is up by then, and the decay is short
  for (t = 0.05; t < end; t += 0.01 + rand() * 0.12) {
    r = rand();
    if (r < 0.01) {
      files[0] = "a.wav"; files[1] = "b.wav"; files[2] = "c.flac"; files[3] = "d.wav";
      files[4] = "e.wav";
      printf "at %.3f %s %s\n", t, (rand() < 0.5 ? "load" : "drop"), files[int(rand() * 5)];
    } else if (r < 0.03) {
      # The controls bar shows; a short press of space goes back to the instrument.
      printf "at %.3f set mode %d\n", t, int(rand() * 4);
      printf "at %.3f key space down\nat %.3f key space up\n", t + 0.01, t + 0.05;
    } else if (r < 0.04) {
      printf "at %.3f set slices %d\n", t, int(rand() * 5);
    } else if (r < 0.05) {
      printf "at %.3f set transpose %d\n", t, int(rand() * 49) - 24;
    } else if (r < 0.08) {
      split("attack decay delay feedback reverb filter", names, " ");
      n = names[1 + int(rand() * 6)];
      printf "at %.3f set %s %.3f\n", t, n, (n == "filter" ? 2 : 1) * rand();
    } else if (r < 0.09) {
      printf "at %.3f press %s\n", t, (rand() < 0.5 ? "effects" : "controls");
      printf "at %.3f key space down\nat %.3f key space up\n", t + 0.01, t + 0.05;
    } else if (r < 0.092) {
      printf "at %.3f key r down\nat %.3f key r up\n", t, t + 0.05;  # recording on or off
    } else {
      f = int(rand() * 6);
      if (!(f in down)) {
        printf "at %.3f down %d %.1f\n", t, f, rand() * 1085; down[f] = 1;
      } else if (rand() < 0.8) {
        printf "at %.3f move %d %.1f\n", t, f, rand() * 1085;
      } else {
        printf "at %.3f %s %d\n", t, (rand() < 0.9 ? "up" : "cancel"), f; delete down[f];
      }
    }
  }
  for (f in down) printf "at %.3f up %d\n", end, f;
  printf "at %.3f key space down\nat %.3f key space up\n", end, end + 0.05;
  printf "at %.3f set decay 0.1\n", end;
  printf "at %.3f dump end.json\n", seconds;
}' > "$work/soak.vsc"

echo "soak: $(grep -c '^at' "$work/soak.vsc") events over $seconds s"
"$tool" "$work/soak.vsc" -o "$work/soak.wav" --check

#!/usr/bin/env bash
# Installs every system package Vornik needs to build, run, test and benchmark.
# Debian 12, as root, apt-get only. Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
  # toolchain
  g++ cmake ninja-build pkg-config git
  # clang for libFuzzer and its sanitizer runtimes
  clang libclang-rt-14-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev sox
  # the instrument
  libsdl2-dev libcairo2-dev libfontconfig-dev libsndfile1-dev fonts-dejavu-core xdg-utils
  # MIDI, JACK and rate conversion
  librtmidi-dev libasound2-dev libjack-jackd2-dev jackd2 libsamplerate0-dev
  # the desktop: portal over D-Bus, validators, the man page
  libglib2.0-dev appstream desktop-file-utils help2man
  # a session bus of the tests' own, for the portal tests
  dbus-daemon
  # screenshots and display tests without a screen
  xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages (${missing[*]}); run this script as root" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# CPU use of the program while 64 voices play: idle-cpu.sh's run with 64 bow voices held across
# the strip by the program's own --hold-voices option (the sound, the cursors, the grain boxes
# and the oscilloscope all moving), reported per thread. Target: at most 15% of one core.
# Settings as in idle-cpu.sh (IDLE_SECONDS, VORNIK_BIN, IDLE_VIDEO, SDL_RENDER_DRIVER).
set -euo pipefail
export IDLE_VOICES=${IDLE_VOICES:-64} IDLE_TARGET=${IDLE_TARGET:-15}
exec "$(dirname "$0")/idle-cpu.sh" "$@"

#!/usr/bin/env bash
# The live program's own costs on a private X server and sound server with a 440 Hz tone at
# the default input: time from exec to the mapped and to the first painted window, CPU use of
# one core over SECONDS at the defaults and at zoom 4 with a 10 ms display interval, and peak
# resident memory. Prints figures; it sets no limit on them.
#
# Usage: bench/live_cost.sh [PROGRAM] [SECONDS] [RUNS]
#   PROGRAM  default build/release/tovalisk;  SECONDS  default 10;  RUNS  starts per mode, 3
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=$(realpath "${1:-build/release/tovalisk}")
seconds=${2:-10}
runs=${3:-3}
source "$here/../scripts/e2e-lib.sh"
trap e2e_cleanup EXIT

E2E_SCREEN=2560x1920x24 e2e_start_xvfb
e2e_start_pulse
# Long enough for every run; looped by nothing, so one file covers them all.
e2e_play_tone 440 16000 $(( (seconds + 12) * runs * 2 + 10 ))
sleep 0.5

for mode in ${LIVE_MODES:-defaults zoom4}; do
  for run in $(seq "$runs"); do
    echo "== $mode, run $run"
    /usr/bin/python3 "$here/live_probe.py" cost "$program" "$mode" "$seconds" 440
  done
done

#!/usr/bin/env bash
# Soak of the live program on a private X server and sound server: tones cycling through 110,
# 220, 440, 880 and 1760 Hz, SEGMENT seconds each, for SECONDS (10 minutes by default). Every
# change must show on the chart at the tone's row, in order, and resident memory must not grow
# (see bench/soak_probe.py). Exit status 0 when every check held.
#
# Usage: bench/soak.sh [PROGRAM] [SECONDS] [SEGMENT]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=$(realpath "${1:-build/release/tovalisk}")
seconds=${2:-600}
segment=${3:-3}
source "$here/../scripts/e2e-lib.sh"
trap e2e_cleanup EXIT

e2e_start_xvfb
e2e_start_pulse
/usr/bin/python3 "$here/soak_probe.py" "$program" "$seconds" "$segment" "$E2E_DIR"

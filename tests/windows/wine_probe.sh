#!/usr/bin/env bash
# Runs one probe program of the Windows build under Wine, in a throw-away prefix:
#   wine_probe.sh path/to/probe.exe
# The probe prints its findings and exits 0 when they are right.
set -euo pipefail

exe=$(realpath "${1:?usage: wine_probe.sh path/to/probe.exe}")
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/e2e-lib.sh"
trap e2e_cleanup EXIT
[ -f "$exe" ] || e2e_fail "no $exe: build the Windows build first"
e2e_wine_env
# The probe draws nothing on screen; Wine's text services work without an X server.
unset DISPLAY
wine "$exe"

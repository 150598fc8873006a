#!/usr/bin/env bash
# The platform conformance programs, cross-built for Windows, run under Wine against its own
# winmm, user32 and gdi32:
#   wine_conformance.sh DIR [FILTER]
# runs every *.exe in DIR one after the other in one throw-away Wine prefix, on a private X
# server and a private sound server whose default input hears a steady 440 Hz tone of
# amplitude 16000 (the wave tests are told so through TOVALISK_TEST_TONE). FILTER, if given, is
# passed on as --gtest_filter. Fails when any program fails or none is found.
set -euo pipefail

dir=$(realpath "${1:?usage: wine_conformance.sh DIR [FILTER]}")
filter=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/e2e-lib.sh"
trap e2e_cleanup EXIT

shopt -s nullglob
programs=("$dir"/*.exe)
[ ${#programs[@]} -gt 0 ] || e2e_fail "no conformance programs in $dir"

e2e_start_xvfb
e2e_start_pulse
e2e_wine_env
e2e_play_tone 440 16000 900
export TOVALISK_TEST_TONE="440 16000"

# Creating the prefix takes a while; do it once, before the first program.
wineboot -i >>"$E2E_DIR/wine.log" 2>&1 || e2e_fail "wineboot failed (see $E2E_DIR/wine.log)"

args=()
[ -z "$filter" ] || args+=("--gtest_filter=$filter")
failed=()
for program in "${programs[@]}"; do
  name=$(basename "$program" .exe)
  e2e_log "running $name"
  # Wine's own complaints go to the log; the program's output is the test report.
  if wine "$program" "${args[@]}" 2>>"$E2E_DIR/wine.log" | tr -d '\r'; then
    e2e_log "ok: $name"
  else
    e2e_log "FAIL: $name"
    failed+=("$name")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  e2e_log "failed: ${failed[*]}"
  exit 1
fi
e2e_log "all ${#programs[@]} conformance programs passed"

#!/usr/bin/env bash
# The native program on a private X server and sound server, as a user sees it:
#   display_e2e.sh path/to/tovalisk
# A 440 Hz tone of amplitude 16000 plays into the default input. Screenshots must show the red
# frequency dots on chart row 94 and the blue level dots on row 24 in the newest columns, over
# the green grid; key 2, typed through the X server, makes the client area 400 x 500 and the
# chart 2 x 2 pixels per point; Tab shows the six settings lines and Tab again hides them;
# closing as a window manager does ends the program with exit code 0.
set -euo pipefail

program=$(realpath "${1:?usage: display_e2e.sh path/to/tovalisk}")
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/e2e-lib.sh"
trap e2e_cleanup EXIT
check="/usr/bin/python3 $E2E_LIB_DIR/e2e_check.py"
failures=0

expect() {
  local what=$1
  shift
  if "$@"; then
    e2e_log "ok: $what"
  else
    e2e_log "FAIL: $what"
    failures=$((failures + 1))
  fi
}

shot() {
  e2e_screenshot "$window" "$E2E_DIR/$1.png"
  echo "$E2E_DIR/$1.png"
}

# Waits up to 10 s for the client area to become WIDTH HEIGHT.
size_becomes() {
  local want="$1 $2" i
  for i in $(seq 100); do
    [ "$(e2e_window_size "$window")" = "$want" ] && return 0
    sleep 0.1
  done
  e2e_log "client area $(e2e_window_size "$window"), want $want"
  return 1
}

# Waits up to 10 s for a screenshot whose panel passes `e2e_check.py panel PNG STATE`.
panel_becomes() {
  local state=$1 i
  for i in $(seq 20); do
    $check panel "$(shot "panel-$state")" "$state" >/dev/null && return 0
    sleep 0.5
  done
  $check panel "$(shot "panel-$state")" "$state"
}

# Waits up to 30 s for a screenshot whose chart passes `e2e_check.py chart PNG ARGS...`: on a
# busy machine the sound server may take a while to start or skip a moment of the tone.
chart_becomes() {
  local name=$1 i
  shift
  for i in $(seq 30); do
    $check chart "$(shot "$name")" "$@" >/dev/null && { $check chart "$E2E_DIR/$name.png" "$@"; return 0; }
    sleep 1
  done
  $check chart "$(shot "$name")" "$@"
}

e2e_start_xvfb
e2e_start_pulse
e2e_play_tone 440 16000 120

"$program" >"$E2E_DIR/out.txt" 2>"$E2E_DIR/err.txt" &
program_pid=$!
e2e_track $program_pid
window=$(e2e_find_window Tovalisk 30) || e2e_fail "no window named Tovalisk appeared"
expect "client area 200x300 at start" [ "$(e2e_window_size "$window")" = "200 300" ]

# Ten columns a second: some 3 s after the tone is first measured, the newest 30 show it.
expect "440 Hz on row 94, -6.23 dB on row 24, the grid" chart_becomes zoom1 1 94 24 30 28
png=$E2E_DIR/zoom1.png
expect "zoom 1 screenshot size" $check size "$png" 1
expect "the panel shows the two results only" $check panel "$png" hidden

e2e_keys "$window" 2
expect "key 2 makes the client area 400x500" size_becomes 400 500
expect "zoom 2: the dots and the grid in 2 x 2 pixels" chart_becomes zoom2 2 94 24 10 8
expect "zoom 2 screenshot size" $check size "$E2E_DIR/zoom2.png" 2

# Tab shows at the next display tick, a tenth of a second later.
e2e_keys "$window" Tab
expect "Tab shows the six settings lines" panel_becomes shown
e2e_keys "$window" Tab
expect "Tab again hides them" panel_becomes hidden

e2e_close_window "$window"
if e2e_wait_exit "$program_pid" 15; then
  expect "closing ends the program with exit code 0" [ "$E2E_EXIT_CODE" = 0 ]
else
  expect "the program ends after its window was closed" false
fi

if [ "$failures" -ne 0 ]; then
  e2e_log "$failures check(s) failed; screenshots in $E2E_DIR"
  E2E_KEEP=1
  exit 1
fi
e2e_log "all checks passed"

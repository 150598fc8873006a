#!/usr/bin/env bash
# The Windows build under Wine, on a private X server and sound server, as a user sees it:
#   wine_e2e.sh path/to/tovalisk.exe
# A 440 Hz tone of amplitude 16000 plays into the default input. Checks the window size, the
# chart and the panel in screenshots, zoom and Tab from the keyboard, the trigger keys (both
# triggers at 1.0 make the tone read 40 Hz), closing as a window manager does (exit code 0,
# also while display ticks come every 10 ms), and the start without an input device (a
# message box, one line on stderr, exit code 1).
set -euo pipefail

exe=$(realpath "${1:?usage: wine_e2e.sh path/to/tovalisk.exe}")
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

e2e_start_xvfb
e2e_start_pulse
e2e_wine_env
cp "$exe" "$E2E_DIR/tovalisk.exe"
e2e_play_tone 440 16000 300

# The first start also creates the Wine prefix, which takes a while.
start_program() {
  wine "$E2E_DIR/tovalisk.exe" >>"$E2E_DIR/wine.log" 2>&1 &
  program_pid=$!
  e2e_track $program_pid
  window=$(e2e_find_window Tovalisk 120) || e2e_fail "no window named Tovalisk appeared"
}

close_program() {
  e2e_close_window "$window"
  if ! e2e_wait_exit "$program_pid" 15; then
    # Still there: a window whose chart goes on scrolling has a live window thread, so the
    # request was lost on the way and is sent once more; anything else is a hang.
    if e2e_screenshot "$window" "$E2E_DIR/close-1.png" 2>/dev/null && sleep 1 &&
      e2e_screenshot "$window" "$E2E_DIR/close-2.png" 2>/dev/null &&
      ! cmp -s "$E2E_DIR/close-1.png" "$E2E_DIR/close-2.png"; then
      e2e_log "warning: the window is still live 15 s after the close request; asking again"
      e2e_close_window "$window"
      e2e_wait_exit "$program_pid" 15 || e2e_fail "the program did not end after two close requests"
    else
      e2e_log "the program hangs after the close request; windows:"
      xwininfo -root -tree | grep -i tovalisk >&2 || true
      if [ "${E2E_HOLD_ON_HANG:-0}" = 1 ]; then
        touch "$E2E_DIR/HUNG"
        sleep 600
      fi
      e2e_fail "the program did not end after the close request"
    fi
  fi
  [ "$E2E_EXIT_CODE" = 0 ]
}

shot() {
  e2e_screenshot "$window" "$E2E_DIR/$1.png"
  echo "$E2E_DIR/$1.png"
}

# Wine opens the device about a second after the start; the chart gains ten columns a second.
start_program
expect "client area 200x300 at start" [ "$(e2e_window_size "$window")" = "200 300" ]
sleep 5
png=$(shot zoom1)
expect "zoom 1 screenshot size" $check size "$png" 1
expect "440 Hz on row 94, -6.23 dB on row 24, grid" $check chart "$png" 1 94 24 30 28
expect "panel shows the two results only" $check panel "$png" hidden

e2e_keys "$window" Tab
sleep 0.5
png=$(shot settings)
expect "Tab shows the six settings lines" $check panel "$png" shown
e2e_keys "$window" Tab

e2e_keys "$window" 2
sleep 0.5
expect "key 2 makes the client area 400x500" [ "$(e2e_window_size "$window")" = "400 500" ]
sleep 1.5
png=$(shot zoom2)
expect "zoom 2 screenshot size" $check size "$png" 2
expect "zoom 2 chart in 2x2 pixels" $check chart "$png" 2 94 24 10 8
expect "zoom 2 panel" $check panel "$png" hidden

e2e_keys "$window" 1
sleep 0.5
expect "key 1 makes the client area 200x300 again" [ "$(e2e_window_size "$window")" = "200 300" ]

# 64 coarse steps take each trigger from 0.75 to 1.0; more must stop there.
e2e_keys_with_held "$window" d Right 70
e2e_keys_with_held "$window" f Right 70
sleep 4
png=$(shot triggers)
expect "both triggers at 1.0: 440 Hz reads 40 Hz (row 136)" $check chart "$png" 1 136 24 20 10

expect "closing ends the program with exit code 0" close_program

# Closing while display ticks come every 10 ms: the tick may be blocked in its send to the
# window that is being destroyed.
for round in 1 2 3; do
  start_program
  e2e_keys_with_held "$window" h Down 10
  sleep "0.$((round * 3))"
  expect "close with 10 ms display ticks, round $round: exit code 0" close_program
done

# Without a sound server Wine finds no input device. cmd hands the program a stderr to write
# to, which Wine gives a GUI program started directly no handle for.
e2e_stop "$E2E_TONE_PID"
export PULSE_SERVER=unix:$E2E_DIR/no-such-server
(cd "$E2E_DIR" && exec wine cmd /c "tovalisk.exe 2>stderr.txt") >>"$E2E_DIR/wine.log" 2>&1 &
program_pid=$!
e2e_track $program_pid
if box=$(e2e_find_window Tovalisk 60); then
  e2e_log "message box $(e2e_window_size "$box")"
  e2e_screenshot "$box" "$E2E_DIR/no-device.png"
  e2e_keys "$box" Return
fi
expect "a message box says what is missing" [ -n "${box:-}" ]
e2e_wait_exit "$program_pid" 30 || e2e_fail "the program did not end without an input device"
expect "no input device: exit code 1" [ "$E2E_EXIT_CODE" = 1 ]
stderr_text=$(tr -d '\r' <"$E2E_DIR/stderr.txt")
e2e_log "stderr: $stderr_text"
expect "no input device: one line on stderr" \
  [ "$stderr_text" = "tovalisk: no sound input device is available" ]

if [ "$failures" -ne 0 ]; then
  e2e_log "$failures check(s) failed; screenshots in $E2E_DIR"
  E2E_KEEP=1
  exit 1
fi
e2e_log "all checks passed"

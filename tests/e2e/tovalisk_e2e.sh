#!/usr/bin/env bash
# The real tovalisk on a private X server and sound server, checked as a user sees it:
#   tovalisk_e2e.sh path/to/tovalisk SCENARIO...
# Each scenario is a function named scenario_<name> below; every run starts its own servers
# (Xvfb picks a free display, PulseAudio gets a private runtime directory), so runs may go in
# parallel. To add a scenario, write a scenario_<name> function with `expect` checks and add
# its name to the list in tests/e2e/CMakeLists.txt.
set -euo pipefail

program=$(realpath "${1:?usage: tovalisk_e2e.sh path/to/tovalisk SCENARIO...}")
shift
[ $# -gt 0 ] || set -- window chart close_under_ticks no_sound_server
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

# Starts the program in the background; sets program_pid and window (its X window id).
start_program() {
  "$program" >"$E2E_DIR/stdout.txt" 2>"$E2E_DIR/stderr.txt" &
  program_pid=$!
  e2e_track "$program_pid"
  if ! window=$(e2e_find_window Tovalisk 30); then
    e2e_log "stderr: $(cat "$E2E_DIR/stderr.txt")"
    e2e_fail "no window named Tovalisk appeared"
  fi
}

# Closes the window as a window manager does; true when the program then ends with code 0.
close_program() {
  e2e_close_window "$window"
  if ! e2e_wait_exit "$program_pid" 20; then
    if command -v gdb >/dev/null; then
      gdb -p "$program_pid" -batch -ex "thread apply all bt" >"$E2E_DIR/hang-stacks.txt" 2>&1 || true
      e2e_log "stacks of the hung program in $E2E_DIR/hang-stacks.txt"
    fi
    e2e_fail "the program did not end after the close request"
  fi
  e2e_log "exit code $E2E_EXIT_CODE"
  [ "$E2E_EXIT_CODE" = 0 ]
}

# Screenshot of the client area; prints the file's name.
shot() {
  e2e_screenshot "$window" "$E2E_DIR/$1.png"
  echo "$E2E_DIR/$1.png"
}

# A sound server whose default input carries a 440 Hz tone of amplitude 16000.
with_tone() {
  e2e_start_pulse
  e2e_play_tone 440 16000 120
  local i
  for i in $(seq 100); do
    [ -n "$(pactl list short sink-inputs 2>/dev/null)" ] && return 0
    sleep 0.1
  done
  e2e_fail "the tone did not start playing"
}

scenario_window() {
  e2e_start_xvfb
  with_tone
  start_program
  expect "a window named Tovalisk with a 200x300 client area" \
    [ "$(e2e_window_size "$window")" = "200 300" ]
  sleep 1
  expect "closing it as a window manager does ends the program with exit code 0" close_program
  expect "nothing on stderr" [ ! -s "$E2E_DIR/stderr.txt" ]
}

# Waits up to SECONDS for the newest chart column to show the 440 Hz dot: the sound input
# delivers its first samples a second or two after it is opened.
wait_for_measuring() {
  local seconds=$1 i
  for i in $(seq $((seconds * 4))); do
    e2e_screenshot "$window" "$E2E_DIR/waiting.png" 2>/dev/null &&
      [ "$($E2E_X11 pixel "$E2E_DIR/waiting.png" 199 194)" = FF0000 ] && return 0
    sleep 0.25
  done
  return 1
}

scenario_chart() {
  e2e_start_xvfb
  with_tone
  start_program
  wait_for_measuring 20 || e2e_fail "no 440 Hz dot in the chart 20 s after the start"
  # Ten columns a second: 35 more, each with a new measurement.
  sleep 3.5
  local png
  png=$(shot chart)
  expect "screenshot of the client area is 200x300" $check size "$png" 1
  expect "440 Hz in red on row 94, -6.23 dB in blue on row 24, over the grid" \
    $check chart "$png" 1 94 24 30 28
  expect "the panel shows the two results only" $check panel "$png" hidden
  expect "exit code 0 after the close" close_program
}

# Closing while display ticks come every 10 ms (H held, Down 9 times), so that a tick may be
# blocked in its send to the window thread while the window goes.
scenario_close_under_ticks() {
  e2e_start_xvfb
  with_tone
  local round
  for round in 1 2 3 4 5; do
    start_program
    e2e_keys_with_held "$window" h Down 9
    sleep "0.$((round * 17 % 10))"
    expect "close with 10 ms display ticks, round $round: exit code 0" close_program
  done
}

scenario_no_sound_server() {
  e2e_start_xvfb
  # No sound server to reach: SDL falls back to ALSA and finds no capture device.
  export XDG_RUNTIME_DIR=$E2E_DIR/runtime
  mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
  export PULSE_SERVER=unix:$E2E_DIR/no-such-server
  "$program" >"$E2E_DIR/stdout.txt" 2>"$E2E_DIR/stderr.txt" &
  program_pid=$!
  e2e_track "$program_pid"
  e2e_wait_exit "$program_pid" 30 || e2e_fail "the program did not end without a sound server"
  expect "no input device: exit code 1" [ "$E2E_EXIT_CODE" = 1 ]
  # The sound library may report its own failed probes (lines starting "ALSA lib"); of the
  # program there is the one line.
  local text
  text=$(grep -v '^ALSA lib ' "$E2E_DIR/stderr.txt" || true)
  e2e_log "stderr: $text"
  expect "no input device: the one line on stderr says so" \
    [ "$text" = "tovalisk: no sound input device is available" ]
  expect "no window appeared" [ -z "$(e2e_find_window Tovalisk 0 || true)" ]
}

# Each scenario in a subshell with servers, environment and files of its own; its servers are
# stopped when it ends, however it ends.
run_scenario() {
  local name=$1
  (
    E2E_PIDS=()
    E2E_DIR=$top_dir/$name
    mkdir -p "$E2E_DIR"
    stop_tracked() {
      local i
      for ((i = ${#E2E_PIDS[@]} - 1; i >= 0; i--)); do
        e2e_stop "${E2E_PIDS[i]}"
      done
    }
    trap stop_tracked EXIT
    "scenario_$name"
    [ "$failures" -eq 0 ]
  )
}

top_dir=$E2E_DIR
failed=()
for scenario in "$@"; do
  declare -F "scenario_$scenario" >/dev/null || e2e_fail "no scenario named $scenario"
  e2e_log "scenario $scenario"
  run_scenario "$scenario" || failed+=("$scenario")
done

if [ ${#failed[@]} -ne 0 ]; then
  e2e_log "failed: ${failed[*]}; screenshots and logs in $top_dir"
  E2E_KEEP=1
  exit 1
fi
e2e_log "all checks passed"

# Shared pieces of the end-to-end tests; source it from bash. Everything runs in the
# background with its process id kept, and e2e_cleanup stops exactly those ids, so call it
# from an EXIT trap:
#   source scripts/e2e-lib.sh; trap e2e_cleanup EXIT
#   e2e_start_xvfb; e2e_start_pulse; e2e_play_tone 440 16000 120
# Screenshots and logs go to $E2E_DIR; set E2E_KEEP=1 to keep it after the run.

E2E_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
E2E_X11="/usr/bin/python3 $E2E_LIB_DIR/e2e_x11.py"
E2E_DIR=${E2E_DIR:-$(mktemp -d /tmp/tovalisk-e2e.XXXXXX)}
E2E_PIDS=()

e2e_log() { echo "e2e: $*" >&2; }
e2e_fail() { echo "e2e: FAIL: $*" >&2; exit 1; }

# Remembers a process to stop at cleanup.
e2e_track() { E2E_PIDS+=("$1"); }

# Stops one tracked process by id (and waits for it, when it is our child).
e2e_stop() {
  local pid=$1
  kill "$pid" 2>/dev/null || return 0
  local i
  for i in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

e2e_cleanup() {
  local rc=$?
  local i
  for ((i = ${#E2E_PIDS[@]} - 1; i >= 0; i--)); do
    e2e_stop "${E2E_PIDS[i]}"
  done
  E2E_PIDS=()
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k 2>/dev/null || true
  fi
  if [ "${E2E_KEEP:-0}" = 1 ]; then
    e2e_log "kept $E2E_DIR"
  else
    rm -rf "$E2E_DIR"
  fi
  return $rc
}

# Starts a private X server on a free display (Xvfb picks it) and exports DISPLAY. The screen
# is E2E_SCREEN (WIDTHxHEIGHTxDEPTH), 1280x1024x24 unless set.
e2e_start_xvfb() {
  local fdfile=$E2E_DIR/xvfb.display
  Xvfb -displayfd 3 -screen 0 "${E2E_SCREEN:-1280x1024x24}" -nolisten tcp 3>"$fdfile" >"$E2E_DIR/xvfb.log" 2>&1 &
  e2e_track $!
  local i
  for i in $(seq 100); do
    [ -s "$fdfile" ] && break
    sleep 0.1
  done
  [ -s "$fdfile" ] || e2e_fail "Xvfb did not start (see $E2E_DIR/xvfb.log)"
  export DISPLAY=:$(head -n1 "$fdfile")
  e2e_log "Xvfb on $DISPLAY"
}

# Starts a private sound server with a 48 kHz null sink whose monitor is the default source.
# Clients find it through PULSE_SERVER and XDG_RUNTIME_DIR.
e2e_start_pulse() {
  export XDG_RUNTIME_DIR=$E2E_DIR/runtime
  mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
  export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
    --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=virt rate=48000" >"$E2E_DIR/pulse.log" 2>&1 &
  e2e_track $!
  local i
  for i in $(seq 100); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
  done
  pactl info >/dev/null 2>&1 || e2e_fail "PulseAudio did not start (see $E2E_DIR/pulse.log)"
  pactl set-default-source virt.monitor
  pactl set-default-sink virt
  e2e_log "PulseAudio at $PULSE_SERVER"
}

# Plays round(AMPLITUDE * sin(2 pi FREQ p / 48000)), FREQ a whole number of hertz, for SECONDS
# into the default sink, in the background. Sets E2E_TONE_PID.
e2e_play_tone() {
  local freq=$1 amplitude=$2 seconds=$3
  local file=$E2E_DIR/tone-$freq-$amplitude.wav
  /usr/bin/python3 "$E2E_LIB_DIR/e2e_tone.py" "$file" "$freq" "$amplitude" "$seconds"
  paplay "$file" &
  E2E_TONE_PID=$!
  e2e_track $E2E_TONE_PID
}

# Waits up to SECONDS for the window named NAME; prints its id.
e2e_find_window() {
  $E2E_X11 find "$1" "${2:-30}"
}

e2e_window_size() {
  $E2E_X11 size "$1"
}

e2e_screenshot() {
  import -window "$1" "$2"
}

e2e_close_window() {
  $E2E_X11 close "$1"
}

# Types keys into the window as a user would (xdotool key syntax, e.g. "2" or "Tab").
e2e_keys() {
  local id=$1
  shift
  xdotool windowfocus --sync "$id" 2>/dev/null || xdotool windowfocus "$id"
  xdotool key --delay 30 "$@"
}

# Presses KEY COUNT times with LETTER held down.
e2e_keys_with_held() {
  local id=$1 letter=$2 key=$3 count=$4
  xdotool windowfocus --sync "$id" 2>/dev/null || xdotool windowfocus "$id"
  xdotool keydown "$letter" key --repeat "$count" --delay 20 "$key" keyup "$letter"
}

# Waits up to SECONDS for process PID (a child of this shell) to end; sets E2E_EXIT_CODE.
e2e_wait_exit() {
  local pid=$1 seconds=${2:-30}
  local i
  for i in $(seq $((seconds * 10))); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    return 1
  fi
  wait "$pid"
  E2E_EXIT_CODE=$?
  return 0
}

# A throw-away Wine prefix without install prompts. Sets WINEPREFIX.
e2e_wine_env() {
  export WINEPREFIX=$E2E_DIR/wineprefix
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
}

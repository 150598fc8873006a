#!/usr/bin/env bash
# Runs win_sdl_screenshot on a private X server, takes screenshots of its window and checks
# every pixel, the window's size before and after the key '2', key auto-repeat, the window
# icon, that the user cannot resize it, and that closing the window the way a window manager
# does ends it with code 7.
# Usage: win_sdl_screenshot.sh <program>
set -euo pipefail
program=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
xvfb_pid=
app_pid=
cleanup() {
    if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then kill "$app_pid"; fi
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; cat "$work/out.txt" >&2 2>/dev/null || true; exit 1; }

# wait_for <what> <command...>: retries for up to 20 s.
wait_for() {
    local what=$1; shift
    for _ in $(seq 200); do
        if "$@" >/dev/null 2>&1; then return 0; fi
        sleep 0.1
    done
    fail "timed out waiting for $what"
}

display=
for n in $(seq 90 160); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || fail "no free display number"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
wait_for "the X server" xdpyinfo

SDL_AUDIODRIVER=dummy "$program" one 'two words' >"$work/out.txt" 2>"$work/err.txt" &
app_pid=$!
wait_for "five sends painted" grep -q "^painted 5 160 120$" "$work/out.txt"
grep -q "^outer 160 120 client 160 120$" "$work/out.txt" || fail "no frame without a window manager"
grep -qF 'command [one "two words"] show 10' "$work/out.txt" || fail "command line or show command"
id=$(xdotool search --name "^Tovalisk SDL check$" | head -n 1)
[ -n "$id" ] || fail "window not found"

check() { /usr/bin/python3 "$here/win_sdl_screenshot.py" "$@"; }

import -window "$id" "$work/shot1.png"
check pixels "$work/shot1.png" 160 120 || fail "pixels at 160 x 120"
check icon "$id" || fail "window icon"
check fixed "$id" 160 120 || fail "the user could resize the window"

xdotool windowfocus --sync "$id"
xdotool key 2
wait_for "the resize to be painted" grep -q "^painted 5 320 240$" "$work/out.txt"
size=$(xwininfo -id "$id" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
[ "$size" = "320x240" ] || fail "window is $size after the key 2"
import -window "$id" "$work/shot2.png"
check pixels "$work/shot2.png" 320 240 || fail "pixels at 320 x 240"
check fixed "$id" 320 240 || fail "the user could resize the window after the move"

# A held key repeats: every repeat arrives as a key-down.
xdotool keydown Right
sleep 1.2
xdotool keyup Right
wait_for "the held key" grep -q "^right " "$work/out.txt"
read -r _ downs _ repeats _ < <(grep "^right " "$work/out.txt" | tail -n 1)
[ "$downs" -ge 3 ] && [ "$repeats" -eq $((downs - 1)) ] || fail "held Right gave $downs downs, $repeats repeats"

check close "$id"
set +e
wait "$app_pid"
code=$?
set -e
app_pid=
[ "$code" -eq 7 ] || fail "exit code $code"
if [ -n "${WIN_SDL_SHOTS_DIR:-}" ]; then cp "$work"/shot*.png "$work/out.txt" "$WIN_SDL_SHOTS_DIR"/; fi
echo "SDL screenshot check passed"

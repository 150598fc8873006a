#!/usr/bin/env bash
# Runs a program on a private X server with a private (silent) sound server, checks that its
# main window carries the drawn icon (_NET_WM_ICON) pixel for pixel, then closes it.
#   window_icon_e2e.sh ICON_DIR PROGRAM [ARGS...]
# PROGRAM may be "wine" with the .exe as its argument.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
icon_dir=$1
shift
source "$here/../../scripts/e2e-lib.sh"
trap e2e_cleanup EXIT

e2e_start_xvfb
e2e_start_pulse
if [ "$1" = wine ]; then
  e2e_wine_env
fi

"$@" >"$E2E_DIR/program.log" 2>&1 &
pid=$!
e2e_track "$pid"
id=$(e2e_find_window Tovalisk 60) || true
[ -n "$id" ] || { cat "$E2E_DIR/program.log" >&2; e2e_fail "no Tovalisk window"; }

/usr/bin/python3 "$here/check_window_icon.py" "$id" "$icon_dir/tovalisk_icon.cpp" ||
  e2e_fail "the window does not carry the icon"

e2e_close_window "$id"
e2e_wait_exit "$pid" 30 || e2e_fail "the program did not end after the close request"
[ "$E2E_EXIT_CODE" -eq 0 ] || e2e_fail "exit code $E2E_EXIT_CODE"
e2e_log "window icon checked"

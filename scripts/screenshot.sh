#!/usr/bin/env bash
# Takes a screenshot of the window on a virtual X server: scripts/screenshot.sh OUT.png [ARGS...]
# Extra arguments go to glove-monitor. With GLOVE_CONNECT=1 it presses Connect first and
# waits a moment, so the picture shows the running monitor.
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:?usage: scripts/screenshot.sh OUT.png [ARGS...]}")"
shift
display=":$((90 + RANDOM % 400))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp &
xvfb=$!
trap 'kill "$monitor" "$xvfb" 2>/dev/null || true' EXIT
export DISPLAY="$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

build/default/src/glove-monitor "$@" &
monitor=$!
window="$(xdotool search --sync --onlyvisible --name "Wireless VR Glove" | head -n1)"
if [ "${GLOVE_CONNECT:-0}" = 1 ]; then
    eval "$(xdotool getwindowgeometry --shell "$window")"
    # Connect sits at 72,168 (169 x 41) in the window.
    xdotool mousemove --window "$window" 150 188 click 1
    sleep 2
fi
sleep 0.5
import -window "$window" "$out"
echo "$out"

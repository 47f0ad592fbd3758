#!/usr/bin/env bash
# Takes a screenshot of the window on a virtual X server.
#     scripts/screenshot.sh OUT.png                  the window as it opens
#     scripts/screenshot.sh OUT.png SCENARIO         connected to the glove simulator
# Needs a build (scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:?usage: scripts/screenshot.sh OUT.png [SCENARIO]}")"
scenario="${2:-}"

source scripts/lib/xserver.sh
start_x

args=(--exchange-file "$work/InputFile")
if [ -n "$scenario" ]; then
    build/default/tools/glove-sim/glove-sim --scenario "$scenario" --link "$work/glove" >/dev/null &
    pids+=($!)
    for _ in $(seq 100); do [ -e "$work/glove" ] && break; sleep 0.05; done
    args+=(--port "$work/glove")
fi
build/default/src/glove-monitor "${args[@]}" 2>/dev/null &
pids+=($!)
window="$(timeout 20 xdotool search --sync --onlyvisible --name "Wireless VR Glove" | head -n1)"
if [ -n "$scenario" ]; then
    # Connect's middle, in the window's pixels.
    xdotool mousemove --window "$window" 156 188 click 1
    sleep 2
fi
sleep 0.3
import -window "$window" "$out"
echo "$out"

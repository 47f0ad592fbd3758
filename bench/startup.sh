#!/usr/bin/env bash
# How fast the window shows, and what the program costs before Connect is pressed.
#     bench/startup.sh [BUILD_DIR]   (default build/default; needs Xvfb and xdotool)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/default}"
idle_seconds=10
runs=5

source scripts/lib/xserver.sh
start_x

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

for run in $(seq "$runs"); do
    start=$(date +%s%N)
    "$build/src/glove-monitor" --exchange-file "$work/InputFile" 2>/dev/null &
    pid=$!
    until xdotool search --onlyvisible --name "Wireless VR Glove" >/dev/null 2>&1; do sleep 0.005; done
    shown=$(date +%s%N)
    echo "run $run: window shown $(( (shown - start) / 1000000 )) ms after start"
    if [ "$run" = "$runs" ]; then
        before=$(cpu_ticks "$pid")
        sleep "$idle_seconds"
        after=$(cpu_ticks "$pid")
        echo "CPU before Connect: $(( (after - before) * 10 )) ms in ${idle_seconds} s idle"
        echo "resident memory: $(awk '/VmRSS/ {print $2 / 1024 " MiB"}' "/proc/$pid/status")"
    fi
    kill "$pid"
    wait "$pid" 2>/dev/null || true
done

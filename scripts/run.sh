#!/usr/bin/env bash
# Installs what is missing, builds, and starts Glove Monitor.
#
# Without arguments it also starts the glove simulator on a pseudo-terminal and points the
# monitor at it, so Connect shows a moving hand without any hardware. With arguments it
# starts only the monitor and passes them on, e.g. for a real glove:
#     scripts/run.sh --port /dev/ttyUSB0
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh default

monitor=build/default/src/glove-monitor
if [ $# -gt 0 ]; then
    exec "$monitor" "$@"
fi

work="$(mktemp -d)"
build/default/tools/glove-sim/glove-sim --scenario wave --link "$work/glove" >/dev/null &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 50); do [ -e "$work/glove" ] && break; sleep 0.1; done
echo "Simulated glove on $work/glove: press Connect."
"$monitor" --port "$work/glove"

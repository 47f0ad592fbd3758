#!/usr/bin/env bash
# Builds and runs the benchmark: a minute of streaming and a minute of silence with each
# yield, ten seconds of each kind of glove, then the start-up figures, then a minute streamed
# to OSC and UDP receivers, then a minute recorded and replayed through glove-sim, then the
# program on a virtual X server beside a display doing only its display work, then posture
# recognition scored through the program on glove-sim's postures, three runs of five minutes
# (about thirty minutes; bench/display_bench.sh and bench/posture_bench.sh alone take --seconds
# and --runs). Prints tables for docs/benchmark.md.
#     bench/run.sh [--frames N] [--silent-seconds S] [--stream-seconds S]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh default >/dev/null

echo "Machine: $(nproc) cores, $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)," \
    "$(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo), Linux $(uname -r)"
echo "Command: bench/run.sh $*"
echo
build/default/bench/glove_bench "$@" 2>/dev/null
echo
bench/startup.sh build/default
echo
build/default/bench/network_bench 2>/dev/null
echo
build/default/bench/record_bench 2>/dev/null
echo
bench/display_bench.sh build/default
echo
bench/posture_bench.sh build/default

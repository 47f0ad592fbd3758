#!/usr/bin/env bash
# The latency from the glove's last byte to every output, for glove-monitor on a virtual X
# server (Connect pressed) beside latency_bridge, a minimal serial-to-UDP bridge, on three
# loads: byte-paced frames back to back (48 a second), a glove that pauses (a frame every
# 100 ms, byte-paced), whole frames written at once (48 a second). Where jackd is installed the
# monitor's MIDI output is measured too, on a JACK server of the script's own (dummy driver,
# FRAMES a cycle at 48000 Hz). Runs latency_bench N times and prints the medians of the runs'
# figures as markdown tables.
#     bench/latency_bench.sh [--seconds S] [--runs N] [--monitor PATH] [--jack-period FRAMES]
#                            [BUILD_DIR]
# (defaults 30 s, 5 runs, 128 frames, build/default; --monitor measures another build's
# glove-monitor with this build's bench; needs Xvfb and xdotool)
set -euo pipefail
seconds=30
runs=5
build=build/default
monitor=""
period=128
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds="$2"; shift 2 ;;
        --runs) runs="$2"; shift 2 ;;
        --monitor) monitor="$(realpath "$2")"; shift 2 ;;
        --jack-period) period="$2"; shift 2 ;;
        -h | --help) sed -n '2,13p' "$0" | cut -c3-; exit 0 ;;
        -*) echo "latency_bench.sh: unknown option $1" >&2; exit 2 ;;
        *) build="$1"; shift ;;
    esac
done
build="$(realpath -m "$build")"
cd "$(dirname "$0")/.."
[ -n "$monitor" ] || monitor="$build/src/glove-monitor"
bench="$build/bench/latency_bench"
bridge="$build/bench/latency_bridge"
source scripts/lib/xserver.sh
start_x_for_bench latency_bench.sh "$monitor" "$bench" "$bridge"

# A JACK server of the benchmark's own for each run, on the dummy driver (no sound hardware),
# under a name of its own so that the person's own server stays out of it; none where JACK is
# not installed. A fresh one each run: one that a run's clients left wedged takes no others.
export JACK_DEFAULT_SERVER=glove-latency-bench
midi=()
jack_pid=""
start_jack() {
    if timeout 2 jack_lsp >/dev/null 2>&1; then
        echo "latency_bench.sh: a JACK server called $JACK_DEFAULT_SERVER runs already" >&2
        exit 1
    fi
    jackd --no-realtime --timeout 2000 -d dummy -r 48000 -p "$period" >>"$work/jackd" 2>&1 &
    jack_pid=$!
    for _ in $(seq 100); do timeout 2 jack_lsp >/dev/null 2>&1 && return 0; sleep 0.05; done
    echo "latency_bench.sh: jackd did not start: $(cat "$work/jackd")" >&2
    exit 1
}
# The server ended; killed if it has not ended within 5 s.
stop_jack() {
    [ -n "$jack_pid" ] || return 0
    kill "$jack_pid" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$jack_pid" 2>/dev/null || break; sleep 0.05; done
    kill -KILL "$jack_pid" 2>/dev/null || true
    wait "$jack_pid" 2>/dev/null || true
    jack_pid=""
}
trap 'stop_jack; cleanup' EXIT
if command -v jackd >/dev/null && command -v jack_lsp >/dev/null; then
    midi=(--jack-server "$JACK_DEFAULT_SERVER")
else
    echo "latency_bench.sh: MIDI skipped: jackd is not installed (Debian package jackd2)" >&2
fi

echo_machine
echo "Command: bench/latency_bench.sh --seconds $seconds --runs $runs --jack-period $period;" \
    "monitor: $monitor"
echo "Load average before: $(load_average)"
: >"$work/results"
for run in $(seq "$runs"); do
    echo "run $run of $runs (load average $(load_average))" >&2
    [ ${#midi[@]} -eq 0 ] || start_jack
    "$bench" --monitor "$monitor" --bridge "$bridge" --seconds "$seconds" --work "$work/run$run" \
        "${midi[@]}" | sed "s/^/run=$run /" | tee -a "$work/results" >&2
    stop_jack
    # What the monitor said of its MIDI port (events it dropped, a server that went away).
    grep MIDI "$work/run$run/monitor.stderr" | sed "s/^/run $run: /" >&2 || true
done
echo "Load average after: $(load_average)"
if [ ${#midi[@]} -gt 0 ]; then
    echo "JACK: dummy driver, $period frames a cycle at 48000 Hz" \
        "($(awk -v p="$period" 'BEGIN { printf "%.2f", p / 48 }') ms), --no-realtime; cycles" \
        "late (xruns) during the runs: $(grep -c XRun "$work/jackd" || true)"
fi
echo
# A receiver that got nothing measured nothing: the run failed.
if grep -q ' received=0 ' "$work/results"; then
    echo "latency_bench.sh: a receiver got no frame: $(grep ' received=0 ' "$work/results")" >&2
    exit 1
fi

# Every figure of every run as "KEY VALUE", KEY naming the load, the receiver and the figure.
figures() {
    awk '{
        delete f
        for (i = 1; i <= NF; ++i) if (split($i, kv, "=") == 2) f[kv[1]] = kv[2]
        if (!("load" in f)) next
        if ($3 == "wakeups") {
            print f["load"] ".monitor.wakes", f["monitor"]; print f["load"] ".bridge.wakes", f["bridge"]
            next
        }
        k = f["load"] "." f["source"]
        print k ".p50", f["p50"]; print k ".p90", f["p90"]; print k ".p99", f["p99"]
        print k ".max", f["max"]; print k ".sent", f["sent"]; print k ".received", f["received"]
        if ("twice" in f) print k ".twice", f["twice"]
    }' "$work/results"
}
# The runs of each figure in order, then its median; frame counts summed instead.
figures | sort -k1,1 -k2,2g | awk '
    { runs[$1] = runs[$1] " " $2; total[$1] += $2 }
    END {
        for (k in runs) {
            n = split(runs[k], v, " ")
            print k, (k ~ /\.(sent|received|twice)$/) ? total[k] : n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
        }
    }' >"$work/medians"

awk -v runs="$runs" -v seconds="$seconds" -v midi="${#midi[@]}" '
    { m[$1] = $2 }
    END {
        printf "Each figure the median of %d runs of %d s a load (milliseconds from the write of a\n", runs, seconds
        printf "frame'"'"'s last byte to its arrival); frames lost, and frames received twice,\n"
        printf "summed over the runs.\n\n"
        names["paced"] = "byte-paced, back to back (48/s)"
        names["paused"] = "a glove that pauses (a frame every 100 ms, byte-paced)"
        names["whole"] = "whole frames written at once (48/s)"
        split("paced paused whole", loads, " ")
        receivers = split("udp osc file bridge" (midi ? " midi midi_cycle bridge_midi" : ""),
                          sources, " ")
        receiver["udp"] = "monitor UDP"; receiver["osc"] = "monitor OSC"
        receiver["file"] = "monitor exchange file"; receiver["bridge"] = "bridge UDP"
        receiver["midi"] = "monitor MIDI, at the receiving client'"'"'s callback"
        receiver["midi_cycle"] = "monitor MIDI, at its JACK cycle'"'"'s start"
        receiver["bridge_midi"] = "bridge MIDI, at the receiving client'"'"'s callback"
        printf "| load | receiver | p50 | p90 | p99 | max | frames lost | twice |\n"
        printf "|---|---|---|---|---|---|---|---|\n"
        for (a = 1; a <= 3; ++a) for (b = 1; b <= receivers; ++b) {
            k = loads[a] "." sources[b]
            printf "| %s | %s | %.2f | %.2f | %.2f | %.2f | %d of %d | %s |\n", names[loads[a]],
                receiver[sources[b]], m[k ".p50"], m[k ".p90"], m[k ".p99"], m[k ".max"],
                m[k ".sent"] - m[k ".received"], m[k ".sent"],
                sources[b] == "file" ? "–" : m[k ".twice"] + 0
        }
        printf "\n| load | monitor window thread wake-ups a frame | bridge wake-ups a frame |\n|---|---|---|\n"
        for (a = 1; a <= 3; ++a)
            printf "| %s | %.2f | %.2f |\n", names[loads[a]], m[loads[a] ".monitor.wakes"],
                m[loads[a] ".bridge.wakes"]
        if (!midi) exit
        printf "\n| load | monitor UDP p50 / p99 | monitor MIDI p50 / p99 | bridge UDP p50 / p99 |"
        printf " bridge MIDI p50 / p99 |\n|---|---|---|---|---|\n"
        for (a = 1; a <= 3; ++a) {
            printf "| %s", names[loads[a]]
            split("udp midi bridge bridge_midi", side, " ")
            for (b = 1; b <= 4; ++b)
                printf " | %.2f / %.2f", m[loads[a] "." side[b] ".p50"], m[loads[a] "." side[b] ".p99"]
            printf " |\n"
        }
    }' "$work/medians"

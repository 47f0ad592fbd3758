#!/usr/bin/env bash
# Posture recognition scored through the real program: for each run, glove-monitor on a
# virtual X server learns glove-sim's five postures from 2 s of each recorded with --record,
# then glove-sim plays its postures scenario (seed = the run's number) into it with Connect
# pressed, and posture_bench scores the OSC posture messages against the simulator's log.
# Then the cost of recognition a frame, in process. Prints every run's figures, then the
# medians of the runs as markdown tables.
#     bench/posture_bench.sh [--seconds S] [--runs N] [--calibrated] [--cost-frames N]
#                            [--cost-runs N] [--monitor PATH] [BUILD_DIR]
# (defaults 300 s, 3 runs, uncalibrated, 200000 frames, 7 runs, build/default; needs Xvfb and
# xdotool; --calibrated first calibrates from 10 s of glove-sim's hand scenario; --monitor
# scores another build's glove-monitor with this build's simulator and bench)
set -euo pipefail
seconds=300
runs=3
calibrated=no
cost_frames=200000
cost_runs=7
build=build/default
monitor=""
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds="$2"; shift 2 ;;
        --runs) runs="$2"; shift 2 ;;
        --calibrated) calibrated=yes; shift ;;
        --cost-frames) cost_frames="$2"; shift 2 ;;
        --cost-runs) cost_runs="$2"; shift 2 ;;
        --monitor) monitor="$(realpath "$2")"; shift 2 ;;
        -h | --help) sed -n '2,12p' "$0" | cut -c3-; exit 0 ;;
        -*) echo "posture_bench.sh: unknown option $1" >&2; exit 2 ;;
        *) build="$1"; shift ;;
    esac
done
build="$(realpath -m "$build")"
cd "$(dirname "$0")/.."
[ -n "$monitor" ] || monitor="$build/src/glove-monitor"
sim="$build/tools/glove-sim/glove-sim"
bench="$build/bench/posture_bench"
source scripts/lib/xserver.sh
start_x_for_bench posture_bench.sh "$monitor" "$sim" "$bench"

echo_machine
echo "Command: bench/posture_bench.sh --seconds $seconds --runs $runs$([ "$calibrated" = no ] ||
    echo " --calibrated") --cost-frames $cost_frames --cost-runs $cost_runs; monitor: $monitor"
echo "Load average before: $(load_average)"
: >"$work/results"
for run in $(seq "$runs"); do
    echo "run $run of $runs (load average $(load_average))" >&2
    # A run that fails still prints its figures; the smoke test fails on it.
    "$bench" score --monitor "$monitor" --sim "$sim" --seconds "$seconds" --seed "$run" \
        --calibrated "$calibrated" --work "$work/run$run" | tee -a "$work/results" >&2 || true
done
echo "Load average after the runs: $(load_average)"
# Nothing received is nothing measured: the run failed.
if grep -Eq ' posture_messages=0 | frames_received=0 ' "$work/results" ||
    [ "$(grep -c '^seed=' "$work/results")" -lt "$runs" ]; then
    echo "posture_bench.sh: a run received nothing or did not finish" >&2
    exit 1
fi
"$bench" cost --frames "$cost_frames" --runs "$cost_runs" 2>/dev/null | tee "$work/cost" >&2
echo "Load average after the cost: $(load_average)"
echo

# The median of each figure over the runs; counts summed.
awk '/^seed=/ {
        for (i = 1; i <= NF; ++i) if (split($i, kv, "=") == 2) print kv[1], kv[2]
    }' "$work/results" | sort -k1,1 -k2,2g | awk '
    { runs[$1] = runs[$1] " " $2; total[$1] += $2 }
    END {
        for (k in runs) {
            n = split(runs[k], v, " ")
            median = n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
            print k, median, total[k], runs[k]
        }
    }' >"$work/medians"

awk -v runs="$runs" -v seconds="$seconds" -v calibrated="$calibrated" '
    { m[$1] = $2; sum[$1] = $3 }
    END {
        printf "Each figure the median of %d runs of %d s (seeds 1 to %d), %s; counts summed.\n\n",
            runs, seconds, runs, calibrated == "yes" ? "calibrated" : "without a calibration"
        printf "| figure | median of the runs | goal |\n|---|---|---|\n"
        printf "| held frames recognised right | %.2f %% (%d of %d in all) | ≥ 99.5 %% |\n",
            m["held_right_pct"], sum["held_right"], sum["held_frames"]
        printf "| held frames right from the fourth frame of a hold on | %.2f %% | |\n",
            m["later_right_pct"]
        printf "| false changes a minute | %.2f (%d in all) | ≤ 0.2 |\n", m["false_per_minute"],
            sum["false_changes"]
        printf "| changes to none during a hold | %d in all | |\n", sum["none_in_hold"]
        printf "| delay, frame times from the hold'"'"'s start on the line: p50 / p90 / max | %.2f / %.2f / %.2f | ≤ 4 |\n",
            m["delay_p50"], m["delay_p90"], m["delay_max"]
        printf "| delay, frames of the hold the monitor had read: p50 / p90 / max | %d / %d / %d | |\n",
            m["read_delay_p50"], m["read_delay_p90"], m["read_delay_max"]
        printf "| holds scored / never recognised | %d / %d in all | |\n", sum["holds"], sum["missed"]
        printf "| changes reported | %d in all | |\n", sum["changes"]
        printf "| frame messages received of the line'"'"'s frames | %d of %d in all | |\n",
            sum["frames_received"], sum["frames_expected"]
        printf "| frame message after its last byte reached the line, ms: min / p50 / p99 / max | %.2f / %.2f / %.2f / %.2f | |\n",
            m["lag_min"], m["lag_p50"], m["lag_p99"], m["lag_max"]
        printf "| a hold on the line after its time in the log, at most (ms) | %.2f | |\n",
            m["sim_behind_max"]
    }' "$work/medians"
echo
echo "Per run:"
awk '/^seed=/ {
        for (i = 1; i <= NF; ++i)
            if ($i ~ /^(seed|held_right_pct|false_per_minute|none_in_hold|delay_p50|delay_p90|delay_max|read_delay_max|lag_p50|lag_max|sim_behind_max)=/)
                printf "%s ", $i
        printf "\n"
    }' "$work/results"
echo
awk '
    {
        for (i = 1; i <= NF; ++i) if (split($i, kv, "=") == 2) f[kv[1]] = kv[2]
        cost[f["postures"]] = f["ns_per_frame"]; each[f["postures"]] = f["each"]
        frames = f["frames"]; n = f["runs"]
    }
    END {
        printf "PostureWatch::frameRead, ns a frame, median of %d runs of %d frames (runs: ns each):\n\n", n, frames
        printf "| postures learnt | ns a frame | runs |\n|---|---|---|\n"
        split("0 5 50", sets, " ")
        for (i = 1; i <= 3; ++i) printf "| %s | %.1f | %s |\n", sets[i], cost[sets[i]], each[sets[i]]
    }' "$work/cost"

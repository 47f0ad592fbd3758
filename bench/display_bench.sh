#!/usr/bin/env bash
# What the program costs while it shows a glove, beside what the display alone costs: the real
# glove-monitor on a virtual X server (the xcb platform), Connect pressed, on glove-sim's wave
# byte by byte, wave in whole frames and a silent line; reference_display doing only the
# monitor's per-frame display work, and its bare 48 Hz timer. Each load is measured side by
# side with what it is compared to (the streaming loads with the reference display, the silent
# line with the bare timer), both over the same S seconds after a settle time, so that the
# noise of a shared machine falls on both alike; N times; prints the medians as markdown tables.
#     bench/display_bench.sh [--seconds S] [--runs N] [--settle S] [BUILD_DIR]
# (defaults 30 s, 5 runs, 3 s, build/default; needs a build, Xvfb and xdotool)
# GLOVE_MONITOR_ARGS adds options to every glove-monitor started: "--plot" measures it with
# its plot window open.
set -euo pipefail
seconds=30
runs=5
settle=3
build=build/default
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds="$2"; shift 2 ;;
        --runs) runs="$2"; shift 2 ;;
        --settle) settle="$2"; shift 2 ;;
        -h | --help) sed -n '2,12p' "$0" | cut -c3-; exit 0 ;;
        -*) echo "display_bench.sh: unknown option $1" >&2; exit 2 ;;
        *) build="$1"; shift ;;
    esac
done
build="$(realpath -m "$build")"
cd "$(dirname "$0")/.."
monitor="$build/src/glove-monitor"
sim="$build/tools/glove-sim/glove-sim"
reference="$build/bench/reference_display"
source scripts/lib/xserver.sh
start_x_for_bench display_bench.sh "$monitor" "$sim" "$reference"
xvfb_pid="${pids[0]}"

# The glove's frame rate: 4800 baud, ten bits a byte, ten bytes a frame.
frames_per_second=48

# Processor time in nanoseconds, all threads, as the scheduler counts it. The user and
# system times in /proc/PID/stat are samples taken at the clock tick: a program that runs
# 3 % of the time in short bursts gets about a hundred in 30 s, ten per cent of noise.
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{s += $1} END {printf "%.0f", s}'; }
# Voluntary context switches of the main (window) thread, and of all threads now running.
window_switches() { awk '/^voluntary_ctxt_switches/ {print $2}' "/proc/$1/task/$1/status"; }
all_switches() {
    cat /proc/"$1"/task/*/status 2>/dev/null | awk '/^voluntary_ctxt_switches/ {s += $2} END {print s}'
}
fail() {
    echo "display_bench.sh: $*" >&2
    exit 1
}

# stop PID: ends a process started here and forgets it.
stop() {
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
    local kept=() other
    for other in "${pids[@]}"; do [ "$other" = "$1" ] || kept+=("$other"); done
    pids=("${kept[@]}")
}

# window_of TITLE: waits for a window of that title to be mapped, and prints its id. Searched
# again after a failed search: one fails when a window of the process just ended goes away
# under it.
window_of() {
    local until=$((SECONDS + 20)) found=""
    while [ -z "$found" ] && [ $SECONDS -lt $until ]; do
        # A search that meets a window as it goes can hang: each try has a time limit.
        found="$(timeout 5 xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1)" ||
            sleep 0.05
    done
    echo "$found"
}

# measure CASE PID CASE PID: after the settle time, each process's and the X server's processor
# time and each process's switches over the same S seconds, appended to $work/results, a line
# a case. The X server's time is what it spent for both.
measure() {
    sleep "$settle"
    local t0 t1 x0 x1 c0=() c1=() w0=() w1=() a0=() a1=() i
    t0=$(date +%s%N) x0=$(cpu_ns "$xvfb_pid")
    for i in 2 4; do
        c0[i]=$(cpu_ns "${!i}") w0[i]=$(window_switches "${!i}") a0[i]=$(all_switches "${!i}")
    done
    sleep "$seconds"
    t1=$(date +%s%N) x1=$(cpu_ns "$xvfb_pid")
    for i in 2 4; do
        c1[i]=$(cpu_ns "${!i}") w1[i]=$(window_switches "${!i}") a1[i]=$(all_switches "${!i}")
    done
    for i in 2 4; do
        local name=$((i - 1))
        awk -v run="$run" -v name="${!name}" -v ns=$((t1 - t0)) \
            -v fps="$frames_per_second" -v c=$((c1[i] - c0[i])) -v x=$((x1 - x0)) \
            -v w=$((w1[i] - w0[i])) -v a=$((a1[i] - a0[i])) 'BEGIN {
                s = ns / 1e9
                printf "%s %s %.3f %.3f %.2f %.3f %.2f\n", run, name, 100 * c / ns,
                    100 * x / ns, w / s, w / (fps * s), a / s
            }' >>"$work/results"
    done
}

# start_reference OPTIONS...: the reference display program, its process id in $reference_pid.
start_reference() {
    "$reference" "$@" 2>"$work/reference.stderr" &
    reference_pid=$!
    pids+=("$reference_pid")
    [ -n "$(window_of "Reference display")" ] ||
        fail "the reference's window did not appear: $(cat "$work/reference.stderr")"
}

# monitor_case CASE BESIDE [REFERENCE-OPTION] -- SIM-OPTIONS...: glove-monitor connected to
# glove-sim, measured beside the reference display, recorded as BESIDE.
monitor_case() {
    local case="$1" beside="$2"
    shift 2
    local reference_options=()
    while [ "$1" != -- ]; do reference_options+=("$1"); shift; done
    shift
    local dir="$work/$case"
    rm -rf "$dir" && mkdir -p "$dir"
    "$sim" --link "$dir/glove" "$@" >/dev/null &
    local sim_pid=$!
    pids+=("$sim_pid")
    for _ in $(seq 100); do [ -e "$dir/glove" ] && break; sleep 0.05; done
    [ -e "$dir/glove" ] || fail "glove-sim did not start"
    local line
    line="$(readlink -f "$dir/glove")"
    local extra=()
    read -ra extra <<<"${GLOVE_MONITOR_ARGS:-}"
    "$monitor" --port "$dir/glove" --exchange-file "$dir/InputFile" "${extra[@]}" 2>"$dir/stderr" &
    local pid=$!
    pids+=("$pid")
    local window
    window="$(window_of "Wireless VR Glove")"
    [ -n "$window" ] || fail "glove-monitor's window did not appear: $(cat "$dir/stderr")"
    # Connect's middle, in the window's pixels. Raised first: the window of a process just
    # ended may still lie over it, at the same place.
    xdotool windowraise "$window"
    xdotool mousemove --window "$window" 156 188 click 1
    start_reference "${reference_options[@]}"
    measure "$case" "$pid" "$beside" "$reference_pid"
    kill -0 "$pid" 2>/dev/null || fail "$case: glove-monitor ended: $(cat "$dir/stderr")"
    kill -0 "$reference_pid" 2>/dev/null ||
        fail "$beside: the reference ended: $(cat "$work/reference.stderr")"
    # Connected: the line is open, and a glove that sends has its frames in the exchange file.
    [ -n "$(find "/proc/$pid/fd" -lname "$line")" ] || fail "$case: Connect did not open $line"
    [ "$case" = silent ] || [ -s "$dir/InputFile" ] || fail "$case: no exchange file"
    stop "$reference_pid"
    stop "$pid"
    stop "$sim_pid"
}

echo_machine
echo "Command: ${GLOVE_MONITOR_ARGS:+GLOVE_MONITOR_ARGS=\"$GLOVE_MONITOR_ARGS\" }bench/display_bench.sh --seconds $seconds --runs $runs --settle $settle"
echo "Load average before: $(load_average)"
: >"$work/results"
for run in $(seq "$runs"); do
    echo "$run $(load_average)" >>"$work/loads"
    echo "run $run of $runs (load average $(load_average))" >&2
    monitor_case wave reference -- --scenario wave
    monitor_case burst reference2 -- --scenario wave --burst
    monitor_case silent timer --timer-only -- --scenario silent
done
echo "Load average after: $(load_average)"
echo

# The median of each figure over the runs, and of each run's ratios.
awk -v runs="$runs" -v seconds="$seconds" '
    function median(key, n,    i, j, t, v) {
        n = 0
        for (i = 1; i <= runs; ++i) if ((i, key) in fig) v[++n] = fig[i, key]
        for (i = 2; i <= n; ++i)
            for (j = i; j > 1 && v[j - 1] > v[j]; --j) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
        return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    }
    {
        fig[$1, $2 ".cpu"] = $3; fig[$1, $2 ".x"] = $4; fig[$1, $2 ".wps"] = $5
        fig[$1, $2 ".wpf"] = $6; fig[$1, $2 ".aps"] = $7
    }
    END {
        for (i = 1; i <= runs; ++i) {
            if (fig[i, "reference.cpu"] > 0) {
                fig[i, "wave.ratio"] = fig[i, "wave.cpu"] / fig[i, "reference.cpu"]
            }
            if (fig[i, "reference2.cpu"] > 0) {
                fig[i, "burst.ratio"] = fig[i, "burst.cpu"] / fig[i, "reference2.cpu"]
            }
            if (fig[i, "timer.cpu"] > 0)
                fig[i, "silent.ratio"] = fig[i, "silent.cpu"] / fig[i, "timer.cpu"]
        }
        printf "Each figure the median of %d runs of %d s; a ratio is the median of the ratios in each run.\n", runs, seconds
        printf "Each load measured side by side with the program below it, over the same seconds.\n"
        printf "Frames: 48 a second, the rate at 4800 baud, for all (for silent and the\n"
        printf "bare timer, frame slots). Wake-ups: voluntary context switches.\n"
        printf "Xvfb: the X server serving both programs of the pair.\n\n"
        printf "| program, load | CPU %% of a core | Xvfb CPU %% | window thread wake-ups/s | per frame | all threads wake-ups/s |\n"
        printf "|---|---|---|---|---|---|\n"
        split("wave reference burst reference2 silent timer", keys, " ")
        names["wave"] = "glove-monitor, `glove-sim --scenario wave` (byte-paced)"
        names["reference"] = "reference display, beside it"
        names["burst"] = "glove-monitor, `glove-sim --scenario wave --burst`"
        names["reference2"] = "reference display, beside it"
        names["silent"] = "glove-monitor, `glove-sim --scenario silent`"
        names["timer"] = "reference display `--timer-only` (bare 48 Hz timer), beside it"
        for (k = 1; k <= 6; ++k) {
            key = keys[k]
            printf "| %s | %.2f | %.2f | %.0f | %.2f | %.0f |\n", names[key], median(key ".cpu"),
                median(key ".x"), median(key ".wps"), median(key ".wpf"), median(key ".aps")
        }
        printf "\n| load | glove-monitor CPU %% | reference CPU %% | ratio | goal | window thread wake-ups per frame | goal |\n"
        printf "|---|---|---|---|---|---|---|\n"
        printf "| streaming, byte-paced | %.2f | %.2f | %.2f | ≤ 1.25 | %.2f | ≤ 3 |\n",
            median("wave.cpu"), median("reference.cpu"), median("wave.ratio"), median("wave.wpf")
        printf "| streaming, whole frames | %.2f | %.2f | %.2f | | %.2f | |\n",
            median("burst.cpu"), median("reference2.cpu"), median("burst.ratio"), median("burst.wpf")
        printf "| silent, beside the bare 48 Hz timer | %.2f | %.2f | %.2f | ≤ 0.5 | | |\n",
            median("silent.cpu"), median("timer.cpu"), median("silent.ratio")
    }' "$work/results"

# Each run's processor figures, to judge the noise.
echo
echo "| run | load average at its start | CPU %: wave | reference | wave, whole frames | reference | silent | bare timer |"
echo "|---|---|---|---|---|---|---|---|"
awk 'NR == FNR { load[$1] = $2 " " $3 " " $4; next }
     { cpu[$1, $2] = $3 }
     END {
         for (r = 1; r in load; ++r)
             printf "| %d | %s | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f |\n", r, load[r],
                 cpu[r, "wave"], cpu[r, "reference"], cpu[r, "burst"], cpu[r, "reference2"],
                 cpu[r, "silent"], cpu[r, "timer"]
     }' "$work/loads" "$work/results"

# Sourced by scripts that run the program on a virtual X server of their own: a work
# directory, and processes started into `pids`, all ended and removed on exit.

work="$(mktemp -d)"
pids=()

cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Starts Xvfb on a free display and points DISPLAY at it.
start_x() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
    pids+=($!)
    for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
    if [ ! -s "$work/display" ]; then
        echo "Xvfb did not start" >&2
        exit 1
    fi
    export DISPLAY=":$(cat "$work/display")"
}

# Starts Xvfb for a program measured on it: the xcb platform, and settings of its own, so that
# what the person running it saved stays out of it.
start_x_for_bench() {
    local script="$1" binary
    shift
    for binary in "$@"; do
        [ -x "$binary" ] || { echo "$script: $binary is not built" >&2; exit 1; }
    done
    export QT_QPA_PLATFORM=xcb
    export HOME="$work/home" XDG_CONFIG_HOME="$work/config"
    mkdir -p "$HOME"
    start_x
}

# The load average over 1, 5 and 15 minutes, for the figures' heading.
load_average() { cut -d' ' -f1-3 /proc/loadavg; }

# The machine the figures were measured on, as their heading's first line.
echo_machine() {
    echo "Machine: $(nproc) cores, $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)," \
        "$(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo), Linux $(uname -r)"
}

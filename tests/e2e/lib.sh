# Helpers for driving the real glove-monitor binary on a virtual X server with real clicks.
# Each test gets its own X server, work directory and processes, all ended on exit.
set -euo pipefail

: "${GLOVE_MONITOR:?path of the glove-monitor binary}"
: "${GLOVE_SIM:?path of the glove-sim binary}"

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/xserver.sh"
exchange="$work/InputFile"
# Settings of its own: what the person running the tests saved stays out of them.
export HOME="$work/home" XDG_CONFIG_HOME="$work/config"
mkdir -p "$HOME"
monitor_pid=""
window=""

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# start_sim ARGS...: a simulated glove behind the link $work/glove.
start_sim() {
    rm -f "$work/glove"
    "$GLOVE_SIM" --link "$work/glove" "$@" >/dev/null &
    pids+=($!)
    sim_pid=$!
    for _ in $(seq 100); do [ -e "$work/glove" ] && return 0; sleep 0.05; done
    fail "glove-sim did not start"
}

# start_monitor ARGS...: the program on the simulator's link and the work exchange file.
start_monitor() { open_monitor --port "$work/glove" --exchange-file "$exchange" "$@"; }

# open_monitor ARGS...: the program with these options only, its window found.
open_monitor() {
    "$GLOVE_MONITOR" "$@" 2>"$work/stderr" &
    monitor_pid=$!
    pids+=("$monitor_pid")
    # There is no window manager: wait for the window to be mapped, not to become active.
    # Its own window, where more than one monitor runs.
    window="$(timeout 20 xdotool search --sync --onlyvisible --all --pid "$monitor_pid" \
        --name "Wireless VR Glove" | head -n1)"
    [ -n "$window" ] || fail "the window did not appear"
}

# click X Y: a real click at a point of the window, in its pixels.
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
click_connect() { click 156 188; }
click_exit() { click 296 188; }

# The text box's text, selected with a triple click as a user would, from the X selection.
text1() {
    xdotool mousemove --window "$window" 200 236 click --repeat 3 --delay 40 1
    timeout 2 xclip -o -selection primary -t UTF8_STRING 2>/dev/null || true
}

# wait_for_text EXPECTED [SECONDS]
wait_for_text() {
    local expected="$1" seconds="${2:-5}" got=""
    local until=$((SECONDS + seconds))
    while [ $SECONDS -le $until ]; do
        got="$(text1)"
        [ "$got" = "$expected" ] && return 0
        sleep 0.1
    done
    fail "text box shows '$got', expected '$expected'"
}

# pixel X Y: the colour of a window pixel as "r,g,b".
pixel() {
    import -window "$window" -crop "1x1+$1+$2" -depth 8 txt:- |
        sed -n '2s/.*(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1,\2,\3/p'
}

# skin_at X Y: whether the hand's skin shows at a point of the figure, given in twips within
# its inner area.
skin_at() { [ "$(pixel $((72 + 2 + $1 / 15)) $((272 + 2 + $2 / 15)))" = "255,224,192" ]; }

# wait_exit SECONDS: sets exit_status to the monitor's, or fails if it is still running.
wait_exit() {
    local until=$((SECONDS + $1))
    # Until it is gone or a zombie waiting for us.
    while [ -e "/proc/$monitor_pid" ] && [ "$(awk '{print $3}' "/proc/$monitor_pid/stat" 2>/dev/null)" != Z ]; do
        [ $SECONDS -le $until ] || fail "the program is still running"
        sleep 0.05
    done
    exit_status=0
    wait "$monitor_pid" || exit_status=$?
}

# The monitor ends within five seconds with exit status 0.
wait_clean_exit() {
    wait_exit 5
    [ "$exit_status" = 0 ] || fail "exit status $exit_status"
}

# record_for SECONDS FILE SIM_ARGS...: a monitor records FILE while the simulator runs.
record_for() {
    local seconds="$1" file="$2"
    shift 2
    start_sim --for "$seconds" "$@"
    start_monitor --record "$file"
    click_connect
    while kill -0 "$sim_pid" 2>/dev/null; do sleep 0.1; done
    click_exit
    wait_clean_exit
    ! grep -q "record" "$work/stderr" || fail "stderr: $(cat "$work/stderr")"
}

# Exit clicked: the monitor ends cleanly and takes the exchange file with it.
exit_removes_the_exchange_file() {
    click_exit
    wait_clean_exit
    [ ! -e "$exchange" ] || fail "the exchange file is still there"
}

# A free UDP port.
free_port() {
    python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", 0)); print(s.getsockname()[1])'
}

# start_oscdump: an OSC receiver on a free port, $osc_port, writing each message to $work/osc.
start_oscdump() {
    osc_port="$(free_port)"
    oscdump -L "$osc_port" >"$work/osc" 2>&1 &
    pids+=($!)
}

# start_receivers OSC_PORT UDP_PORT: liblo's oscdump into $work/osc, and a plain UDP
# receiver that writes each datagram as one line of hex into $work/udp.
start_receivers() {
    oscdump -L "$1" >"$work/osc" 2>&1 &
    pids+=($!)
    python3 -u -c '
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", int(sys.argv[1])))
print("listening", file=sys.stderr)
while True: print(s.recv(2048).hex())' "$2" >"$work/udp" 2>"$work/udp-ready" &
    pids+=($!)
    for _ in $(seq 100); do [ -s "$work/udp-ready" ] && return 0; sleep 0.05; done
    fail "the UDP receiver did not start"
}

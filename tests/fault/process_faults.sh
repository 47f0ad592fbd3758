#!/usr/bin/env bash
# Faults only a separate process can meet: the real glove-monitor on a virtual X server,
# clicked with xdotool, run as an unprivileged user or ended by a signal mid-stream.
#     process_faults.sh CASE
# GLOVE_MONITOR and GLOVE_SIM name the binaries. Exit status 77: skipped.
# Cases that take the network away run in a network namespace of their own.
if [[ "${1:-}" == network_* && -z "${GLOVE_OWN_NETWORK:-}" ]]; then
    unshare --net true 2>/dev/null || { echo "SKIP: needs a network namespace (root)"; exit 77; }
    GLOVE_OWN_NETWORK=1 exec unshare --net bash "$0" "$@"
fi
source "$(dirname "$0")/../e2e/lib.sh"

readonly skipped=77
readonly nobody=65534

# Runs the monitor as nobody from here on: a wrapper stands in for the binary.
as_nobody() {
    [ "$(id -u)" = 0 ] || { echo "SKIP: needs root to run the monitor as another user"; exit "$skipped"; }
    chmod 0755 "$work"
    mkdir -p "$work/home" "$work/shared"
    chown "$nobody:$nobody" "$work/home" "$work/shared"
    exchange="$work/shared/InputFile"
    # The build may lie where nobody may not go (a checkout under /root): run a copy.
    install -m 0755 "$GLOVE_MONITOR" "$work/glove-monitor"
    # So may the leak checker's suppression file that a sanitizer build names: hand over a copy.
    local lsan="${LSAN_OPTIONS:-}"
    if [[ "$lsan" =~ (^|:)suppressions=([^:]+) ]]; then
        install -m 0644 "${BASH_REMATCH[2]}" "$work/lsan.supp"
        lsan="${lsan/suppressions=${BASH_REMATCH[2]}/suppressions=$work/lsan.supp}"
    fi
    cat >"$work/as-nobody" <<EOF
#!/bin/sh
exec setpriv --reuid=$nobody --regid=$nobody --clear-groups env HOME="$work/home" LSAN_OPTIONS="$lsan" "$work/glove-monitor" "\$@"
EOF
    chmod 0755 "$work/as-nobody"
    GLOVE_MONITOR="$work/as-nobody"
}

# wait_for_exchange CONTENT: the file is rewritten every pass, so a look may find it between
# truncation and write; it must hold the content within a few seconds.
wait_for_exchange() {
    for _ in $(seq 100); do
        [ "$(cat "$exchange" 2>/dev/null)" = "$1" ] && return 0
        sleep 0.05
    done
    fail "exchange: $(cat -A "$exchange")"
}

# Some frame reaches the exchange file within five seconds.
wait_for_a_frame_written() {
    # The file is rewritten every pass: a look may find it between truncation and write.
    local line=$'^128(,(0|[1-9][0-9]{0,2})){9}\r$'
    for _ in $(seq 100); do
        grep -Eq "$line" "$exchange" 2>/dev/null && return 0
        sleep 0.05
    done
    fail "no frame written"
}

# The monitor's stderr holds no sanitizer report and no crash.
no_crash_reported() {
    ! grep -Eq "AddressSanitizer|runtime error|Segmentation|Aborted" "$work/stderr" ||
        fail "stderr: $(cat "$work/stderr")"
}

# A device the user may not read: " No Device Found", one message, no file, a clean Exit.
unreadable_device() {
    as_nobody
    start_x
    start_sim --scenario wave
    chmod 0600 "$(readlink "$work/glove")"
    start_monitor
    click_connect
    wait_for_text " No Device Found"
    sleep 0.5
    kill -0 "$monitor_pid" || fail "the program died"
    [ "$(grep -ci "permission denied" "$work/stderr")" = 1 ] || fail "stderr: $(cat "$work/stderr")"
    [ ! -e "$exchange" ] || fail "an exchange file appeared though nothing was read"
    click_exit
    wait_clean_exit
    no_crash_reported
}

# The user's own exchange file made read-only: never rewritten, its frame shown, and once it
# is writable again the glove's frames are written and shown.
read_only_exchange_file() {
    as_nobody
    start_x
    start_sim --hold 1,200,180,100,100,7,8,9,10
    chown "$nobody:$nobody" "$(readlink "$work/glove")"
    printf '128,2,3,180,5,6,7,8,9,10\r\n' >"$exchange"
    chown "$nobody:$nobody" "$exchange"
    chmod 0444 "$exchange"
    cp "$exchange" "$work/before"
    start_monitor
    click_connect
    wait_for_text "128  2  3  180  5  6  7  8  9  10"
    sleep 0.3
    cmp -s "$exchange" "$work/before" || fail "the read-only file changed: $(cat -A "$exchange")"
    [ "$(stat -c %a "$exchange")" = 444 ] || fail "its mode changed"
    chmod 0644 "$exchange"
    wait_for_text "128  1  200  180  100  100  7  8  9  10"
    wait_for_exchange $'128,1,200,180,100,100,7,8,9,10\r'
    click_exit
    wait_clean_exit
    [ ! -e "$exchange" ] || fail "the exchange file outlived the program"
    no_crash_reported
}

# start_monitor_on DEVICE: the monitor on another device than the simulator's link.
start_monitor_on() {
    ln -sfn "$1" "$work/glove"
    start_monitor
}

# A device path with nothing behind it: " No Device Found" pass after pass, reported once.
missing_device() {
    start_x
    start_monitor_on "$work/no-such-device"
    click_connect
    wait_for_text " No Device Found"
    sleep 0.5
    kill -0 "$monitor_pid" || fail "the program died"
    [ "$(grep -c "cannot open the serial device" "$work/stderr")" = 1 ] ||
        fail "stderr: $(cat "$work/stderr")"
    click_exit
    wait_clean_exit
    no_crash_reported
}

# signal_while_streaming SIGNAL: a glove streaming as fast as the line takes it, the monitor
# connected and writing, then the signal: exit status 0 and no exchange file left.
signal_while_streaming() {
    start_x
    start_sim --scenario wave --burst --baud 115200
    start_monitor
    click_connect
    wait_for_a_frame_written
    kill "-$1" "$monitor_pid"
    wait_clean_exit
    [ ! -e "$exchange" ] || fail "the exchange file outlived the program"
    no_crash_reported
}

sigterm_while_streaming() { signal_while_streaming TERM; }
sigint_while_streaming() { signal_while_streaming INT; }
sighup_while_streaming() { signal_while_streaming HUP; }

# killed_while_recording SIGNAL: a glove streaming as fast as the line takes it into a
# recording, then the signal. The recording stays one a replay takes, with at most its last
# line cut short (only a kill may leave one), and it runs to within a second of the end.
killed_while_recording() {
    start_x
    start_sim --scenario rest --count --burst --baud 115200
    local started
    started=$(date +%s%N)
    start_monitor --record "$work/r.csv"
    click_connect
    wait_for_a_frame_written
    sleep 2
    local lived=$((($(date +%s%N) - started) / 1000000))
    kill "-$1" "$monitor_pid"
    wait_exit 5
    no_crash_reported
    local status=0
    "$GLOVE_SIM" --replay "$work/r.csv" --frames 1 --burst >/dev/null 2>"$work/replay" || status=$?
    [ "$status" = 0 ] || fail "not a recording: $(cat "$work/replay")"
    if [ "$1" != KILL ]; then
        # The replay may also warn that the line is slower than the recording.
        ! grep -q "cut short" "$work/replay" || fail "a cut row after SIG$1: $(cat "$work/replay")"
    fi
    local last
    last="$(tail -n 2 "$work/r.csv" | head -n 1 | cut -d, -f2)"
    [ "${last%.*}" -ge $((lived - 1000)) ] || fail "last whole row at $last ms of $lived"
}

killed_while_recording_term() { killed_while_recording TERM; }
killed_while_recording_kill() { killed_while_recording KILL; }

# SIGTERM while the exchange path cannot be deleted: the program ends all the same.
sigterm_with_undeletable_exchange_file() {
    start_x
    start_sim --scenario wave
    mkdir "$exchange"
    start_monitor
    click_connect
    sleep 1
    kill -0 "$monitor_pid" || fail "the program died"
    kill -TERM "$monitor_pid"
    wait_clean_exit
    [ -d "$exchange" ] || fail "the directory in its place was removed"
    no_crash_reported
}

# The network goes away under a streaming monitor (the receivers' address is removed) and
# comes back: one report each way per receiver, the window and the exchange file carry on,
# and the datagrams flow again by themselves.
network_goes_away_and_comes_back() {
    ip link set lo up
    ip addr add 10.9.0.1/24 dev lo
    start_x
    start_receivers 9000 9001
    start_sim --scenario wave
    start_monitor --osc 10.9.0.1:9000 --udp 10.9.0.1:9001
    click_connect
    for _ in $(seq 100); do [ -s "$work/udp" ] && break; sleep 0.05; done
    [ -s "$work/udp" ] || fail "nothing arrived"
    ip addr del 10.9.0.1/24 dev lo
    sleep 1
    local gone
    gone="$(wc -l <"$work/udp")"
    ip addr add 10.9.0.1/24 dev lo
    sleep 4
    [ $(($(wc -l <"$work/udp") - gone)) -ge 100 ] || fail "sending did not resume"
    kill -0 "$monitor_pid" || fail "the program died"
    wait_for_a_frame_written
    for receiver in "OSC receiver 10.9.0.1:9000" "UDP receiver 10.9.0.1:9001"; do
        [ "$(grep -c "$receiver: Network is unreachable" "$work/stderr")" = 1 ] &&
            [ "$(grep -c "$receiver: sending again" "$work/stderr")" = 1 ] ||
            fail "stderr: $(cat "$work/stderr")"
    done
    click_exit
    wait_clean_exit
    no_crash_reported
}

"${1:?which case}"
echo "PASS: $1"

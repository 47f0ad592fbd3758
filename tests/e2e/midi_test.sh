#!/usr/bin/env bash
# End-to-end tests of the monitor's MIDI port, on a JACK server of the test's own with the
# dummy driver (no sound hardware), read by jack_midi_dump:
#     midi_test.sh CASE
# GLOVE_MONITOR and GLOVE_SIM name the binaries. Exits 77 (skipped) where JACK is not installed.
source "$(dirname "$0")/lib.sh"

for tool in jackd jack_lsp jack_connect jack_midi_dump; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (Debian package jackd2)"
        exit 77
    fi
done
# A server name of its own, so that the person's own JACK server stays out of it; always the
# same, as JACK keeps room for only a few names (the tests take turns: RESOURCE_LOCK).
export JACK_DEFAULT_SERVER="glove-monitor-test"
port="Glove Monitor:Glove Monitor"
# A server a failed test left stopped is let go on, so that it can end.
trap 'kill -CONT ${jack_pid:-} 2>/dev/null || true; cleanup' EXIT

# The JACK tools wait for a server that does not answer: never for long here.
jack_lsp() { timeout 2 env jack_lsp "$@"; }
jack_connect() { timeout 2 env jack_connect "$@"; }

# start_jack: the server on the dummy driver, once it takes clients.
start_jack() {
    ! jack_lsp >/dev/null 2>&1 ||
        fail "a JACK server called $JACK_DEFAULT_SERVER runs already (left by a test that was killed?)"
    # A long client timeout: on a busy machine a late client is not thrown out of the graph.
    jackd --no-realtime --timeout 2000 -d dummy -r 48000 -p 1024 >>"$work/jackd" 2>&1 &
    jack_pid=$!
    pids+=("$jack_pid")
    for _ in $(seq 100); do jack_lsp >/dev/null 2>&1 && return 0; sleep 0.05; done
    fail "jackd did not start: $(cat "$work/jackd")"
}

# stop_jack: the server ended, its readers first; one that does not end within 5 s is killed.
stop_jack() {
    [ -z "${dump_pid:-}" ] || kill "$dump_pid" 2>/dev/null || true
    kill "$jack_pid"
    for _ in $(seq 100); do kill -0 "$jack_pid" 2>/dev/null || break; sleep 0.05; done
    kill -KILL "$jack_pid" 2>/dev/null || true
    wait "$jack_pid" 2>/dev/null || true
}

# dump_midi FILE: jack_midi_dump into FILE, connected to the monitor's port once it is there;
# each event's first field is its time in the server's frames since the dump started.
dump_midi() {
    jack_midi_dump -a >"$1" 2>/dev/null &
    dump_pid=$!
    pids+=("$dump_pid")
    for _ in $(seq 100); do
        jack_lsp 2>/dev/null | grep -qx "$port" && jack_lsp 2>/dev/null | grep -qx midi-monitor:input &&
            jack_connect "$port" midi-monitor:input 2>/dev/null && return 0
        sleep 0.05
    done
    fail "cannot connect the port: $(jack_lsp 2>&1 | tr '\n' ' ')"
}

# The calibration of glove-sim's hand scenario: a recording of two frames, each value at the
# ends of its travel; value 2, the battery, does not move and is not calibrated.
calibrate_for_the_hand() {
    {
        printf 'time,elapsed_ms,v1,v2,v3,v4,v5,v6,v7,v8,v9,v10\n'
        printf '2026-12-07T09:31:02.123+01:00,0.000,128,1,30,20,40,10,60,25,50,0\n'
        printf '2026-12-07T09:31:02.144+01:00,20.833,128,1,220,180,240,200,230,150,250,120\n'
    } >"$work/hand.csv"
    "$GLOVE_MONITOR" --port "$work/glove" --calibrate-from "$work/hand.csv" >/dev/null ||
        fail "--calibrate-from: status $?"
}

# controllers_follow_frames OSC DUMP: each controller of values 3 to 10 (21 to 28) in DUMP is,
# in order, the frames' values in OSC as places in the hand's ranges, 0 to 127, each sent only
# when it moved a step; value 2 sends none. A JACK client that misses a cycle on a busy machine
# misses its events: DUMP may leave a few out, never add or reorder one. Prints what is wrong.
controllers_follow_frames() {
    awk '
    BEGIN { split("30 20 40 10 60 25 50 0", low); split("220 180 240 200 230 150 250 120", high) }
    FNR == NR && $2 == "/glove/frame" {
        for (i = 3; i <= 10; i++) {
            f = ($(i + 3) - low[i - 2]) / (high[i - 2] - low[i - 2])
            f = f < 0 ? 0 : f > 1 ? 1 : f
            p = f * 127
            v = int(p + 0.5)
            c = 18 + i
            if (!(c in seen) || seen[c] != v) want[c, ++wants[c]] = v
            seen[c] = v
            # Sent once a step from the value sent, or at an end: the events to expect.
            d = p - sent[c]
            m = 1.5 * 127 / (high[i - 2] - low[i - 2])
            m = m < 1 ? 1 : m
            if (!(c in sent) || v != sent[c] && (v == 0 || v == 127 || d >= m || d <= -m)) {
                total++; sent[c] = v
            }
        }
        frames++
        next
    }
    # "0: b0 15 00 control change (channel  0): controller  21, value   0"
    FNR != NR && $2 == "b0" {
        c = $10 + 0
        if (c < 21 || c > 28) { print "controller " c " was sent"; bad = 1; exit }
        from = at[c]
        while (at[c] < wants[c] && want[c, ++at[c]] != $12 + 0) {}
        if (want[c, at[c]] != $12 + 0 || at[c] - from > 10) {
            print "controller " c ": " ($12 + 0) " is not among the next values to come"; bad = 1; exit
        }
        got++
        next
    }
    FNR != NR && NF > 1 { print "not a control change on channel 1: " $0; bad = 1; exit }
    END {
        if (bad) exit
        if (frames < 100) { print "only " frames " frames"; exit }
        if (total < 400) { print "the hand hardly moved: " total " changes"; exit }
        if (got < total * 0.95) print "only " got " of " total " controller changes arrived"
    }' "$1" "$2"
}

# After a calibration, fingers as controllers 21 to 28 on channel 1: they follow glove-sim's
# hand frame for frame, and only when they change.
controllers_follow_the_hand() {
    start_x
    start_jack
    local osc_port
    start_oscdump
    start_sim --scenario hand
    calibrate_for_the_hand
    start_monitor --midi --midi-api jack --osc "127.0.0.1:$osc_port"
    dump_midi "$work/midi"
    sleep 0.5
    click_connect
    sleep 5
    click_exit
    wait_clean_exit
    sleep 0.2
    stop_jack
    local problem
    problem="$(controllers_follow_frames "$work/osc" "$work/midi")"
    [ -z "$problem" ] || fail "$problem"
    ! grep -q MIDI "$work/stderr" || fail "stderr: $(cat "$work/stderr")"
}

# events_flow FILE: FILE gets the moving hand's controllers (about 8 a frame, 48 frames a
# second) within 5 s.
events_flow() {
    for _ in $(seq 50); do [ "$(grep -c ' b0 ' "$1")" -ge 150 ] && return 0; sleep 0.1; done
    fail "$(wc -l <"$1") events in 5 s; jackd: $(tail -n 3 "$work/jackd")"
}

# still_reading: the exchange file is still written, within 2 s on a busy machine.
still_reading() {
    touch "$work/mark"
    for _ in $(seq 20); do sleep 0.1; [ "$exchange" -nt "$work/mark" ] && return 0; done
    fail "the exchange file is no longer written"
}

# No JACK server at the start, then one that stalls and stops, then one more: each fault is one
# line on stderr, the monitor goes on reading the glove, and the events flow again with each
# server.
the_port_follows_the_jack_server() {
    start_x
    start_sim --scenario hand
    calibrate_for_the_hand
    start_monitor --midi --midi-api jack
    click_connect
    sleep 1
    [ "$(grep -c MIDI "$work/stderr")" = 1 ] &&
        grep -qx "glove-monitor: MIDI: no JACK server is running; the port is opened again once it can be" "$work/stderr" ||
        fail "stderr without a server: $(cat "$work/stderr")"

    local server n=0
    for server in first second; do
        n=$((n + 1))
        start_jack
        dump_midi "$work/midi-$server"
        events_flow "$work/midi-$server"
        if [ "$server" = first ]; then
            # Stopped, as a server that hangs: the port's queue, about a second of the hand,
            # fills (later on a busy machine) and is never waited for.
            kill -STOP "$jack_pid"
            for _ in $(seq 100); do grep -q "not taking events in" "$work/stderr" && break; sleep 0.1; done
            still_reading
            grep -qx "glove-monitor: MIDI: the port's receiver is not taking events in; events are dropped until it does" "$work/stderr" ||
                fail "stderr with the server stopped: $(cat "$work/stderr")"
            kill -CONT "$jack_pid"
            : >"$work/midi-$server"
            events_flow "$work/midi-$server"
        fi
        stop_jack
        for _ in $(seq 100); do
            [ "$(grep -c "JACK server stopped" "$work/stderr")" = "$n" ] && break
            sleep 0.05
        done
        grep -qx "glove-monitor: MIDI: the JACK server stopped; the port is opened again once it can be" "$work/stderr" ||
            fail "stderr after the $server server stopped: $(cat "$work/stderr")"
    done
    # One line for each outage: none at the start and each server that stopped; and at most one
    # for events refused on each port (the stall, and a server's last cycles as it stops).
    local refused
    refused="$(grep -c "not taking events in" "$work/stderr")"
    [ "$(grep -c MIDI "$work/stderr")" = $((3 + refused)) ] && [ "$refused" -le 2 ] &&
        [ "$(grep -c "JACK server stopped" "$work/stderr")" = 2 ] || fail "stderr: $(cat "$work/stderr")"
    still_reading
    exit_removes_the_exchange_file
}

# learn_postures NAME...: glove-sim's postures NAME learnt in this order, each from a recording
# of the hand holding it; they play the notes 60, 61 and so on.
learn_postures() {
    local name learn=()
    for name in "$@"; do
        record_for 2 "$work/$name.csv" --scenario postures --posture "$name" --posture-log /dev/null
        learn+=(--learn-posture "$name=$work/$name.csv")
    done
    "$GLOVE_MONITOR" --port "$work/glove" "${learn[@]}" >/dev/null || fail "--learn-posture: status $?"
}

# notes DUMP: DUMP's notes, one a line: "SECONDS on|off NOTE", SECONDS on the server's clock.
# Fails where a note starts while another sounds, or ends without sounding.
notes() {
    awk '$2 ~ /^[89]0$/ {
        hex = "0123456789abcdef"
        note = index(hex, substr($3, 1, 1)) * 16 + index(hex, substr($3, 2, 1)) - 17
        if ($2 == "90" ? sounding != "" : sounding != note) {
            print "FAIL: note " note ($2 == "90" ? " on" : " off") " while " \
                (sounding == "" ? "none" : sounding) " sounds" >"/dev/stderr"
            exit 1
        }
        sounding = $2 == "90" ? note : ""
        printf "%.3f %s %d\n", $1 / 48000, $2 == "90" ? "on" : "off", note
    }' "$1"
}

# wait_for_notes DUMP NOTES: DUMP's notes are NOTES ("on 60 off 60 ") within 5 s.
wait_for_notes() {
    local got=""
    for _ in $(seq 50); do
        got="$(notes "$1" | cut -d' ' -f2- | tr '\n' ' ')"
        [ "$got" = "$2" ] && return 0
        sleep 0.1
    done
    fail "notes: '$got', expected '$2'"
}

# glove-sim playing its postures, three of the five learnt: each hold of a learnt posture
# sounds its note from about the hold's start to about its end, one note at a time; a hold of
# a posture not learnt sounds none. Exit ends the note sounding.
notes_follow_the_postures() {
    local learnt=(fist open point) at_connect at_exit
    start_x
    learn_postures "${learnt[@]}"
    start_jack
    start_sim --scenario postures --seed 3 --posture-log "$work/log"
    start_monitor --midi --midi-api jack
    dump_midi "$work/midi"
    at_connect="$(wc -l <"$work/log")"
    click_connect
    sleep 15
    at_exit="$(wc -l <"$work/log")"
    click_exit
    wait_clean_exit
    for _ in $(seq 50); do [ "$(notes "$work/midi" | tail -n 1 | cut -d' ' -f2)" != on ] && break; sleep 0.1; done
    stop_jack
    notes "$work/midi" >"$work/notes"
    # The log has a line "SECONDS FRAME NAME" as each hold, or move ("none"), begins: a hold
    # and a move in turn. A note may start while the hand moves into its posture and end while
    # it moves out. The server's clock is set against the log's by the notes' starts.
    python3 - "$work/log" "$work/notes" "$at_connect" "$at_exit" "${learnt[@]}" <<'EOF' ||
import statistics, sys
log, notes, learnt = sys.argv[1], sys.argv[2], sys.argv[5:]
at_connect, at_exit = int(sys.argv[3]), int(sys.argv[4])
# How late the monitor may see the hand on a busy machine, and the note reach the dump.
slack = 0.5
entries = [(float(line.split()[0]), line.split()[2]) for line in open(log)]
start = lambda k: entries[k][0]
end = lambda k: entries[k + 1][0] if k + 1 < len(entries) else float("inf")
holds = [(k, learnt.index(name) + 60) for k, (_, name) in enumerate(entries) if name in learnt]
lines = [line.split() for line in open(notes)]
if len(lines) % 2:
    sys.exit(f"note {lines[-1][2]} still sounds after Exit")
played = [(float(on[0]), float(off[0]), int(on[2])) for on, off in zip(lines[::2], lines[1::2])]
# The first note is of the first learnt hold under way at Connect or later, or of the next if
# that one ended first; each learnt hold from there up to the one before the entry under way at
# Exit sounds.
first = [k for k, _ in holds if k >= at_connect - 1]
for skip in (0, 1):
    after = [(k, note) for k, note in holds if k >= first[skip]]
    matched, left = after[: len(played)], after[len(played) :]
    if [n for _, n in matched] == [n for *_, n in played] and all(k >= at_exit - 1 for k, _ in left):
        break
else:
    sys.exit(f"notes {[n for *_, n in played]} for the holds {[n for k, n in holds if k >= first[0]]}")
offset = statistics.median(on - start(k) for (on, _, _), (k, _) in list(zip(played, matched))[1:])
for i, ((on, off, note), (k, _)) in enumerate(zip(played, matched)):
    on, off = on - offset, off - offset
    if i > 0 and not start(k - 1) - slack <= on <= start(k) + slack:
        sys.exit(f"note {note} started at {on:.3f} s, its hold at {start(k):.3f} s")
    if i + 1 < len(played) and not end(k) - slack <= off <= end(k + 1) + slack:
        sys.exit(f"note {note} ended at {off:.3f} s, its hold at {end(k):.3f} s")
print(f"{len(played)} notes for {len(entries)} holds and moves")
EOF
        fail "glove-sim: $(tr '\n' ' ' <"$work/log"); notes: $(tr '\n' ' ' <"$work/notes")"
}

# A posture held when the glove goes: its note ends; held again, it sounds again until Exit.
a_note_ends_with_the_glove() {
    start_x
    learn_postures fist
    start_jack
    start_sim --scenario postures --posture fist --posture-log /dev/null
    start_monitor --midi --midi-api jack
    dump_midi "$work/midi"
    click_connect
    wait_for_notes "$work/midi" "on 60 "
    kill "$sim_pid"
    wait_for_text " No Device Found"
    wait_for_notes "$work/midi" "on 60 off 60 "
    start_sim --scenario postures --posture fist --posture-log /dev/null
    wait_for_notes "$work/midi" "on 60 off 60 on 60 "
    click_exit
    wait_clean_exit
    wait_for_notes "$work/midi" "on 60 off 60 on 60 off 60 "
    stop_jack
}

# Exit while the JACK server is stalled: the program ends all the same, within seconds.
exit_with_the_server_stalled() {
    start_x
    start_jack
    start_sim --scenario hand
    calibrate_for_the_hand
    start_monitor --midi --midi-api jack
    click_connect
    sleep 1
    kill -STOP "$jack_pid"
    exit_removes_the_exchange_file
    kill -CONT "$jack_pid"
    stop_jack
}

# Where the machine has no ALSA sequencer, --midi-api alsa is one line on stderr and the
# monitor runs as without --midi.
no_sequencer_is_one_line() {
    [ ! -e /dev/snd/seq ] || { echo "SKIP: this machine has an ALSA sequencer"; exit 77; }
    start_x
    start_sim --hold 1,200,150,180,100,7,8,9,10
    start_monitor --midi --midi-api alsa
    click_connect
    wait_for_text "128  1  200  150  180  100  7  8  9  10"
    sleep 2.5
    [ "$(grep -c MIDI "$work/stderr")" = 1 ] && grep -qx "glove-monitor: MIDI: no ALSA sequencer on this machine (/dev/snd/seq: No such file or directory); the port is opened again once it can be" "$work/stderr" ||
        fail "stderr: $(cat "$work/stderr")"
    exit_removes_the_exchange_file
}

"${1:?which case}"
echo "PASS: $1"

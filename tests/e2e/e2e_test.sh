#!/usr/bin/env bash
# End-to-end tests of the real glove-monitor with the glove simulator on a virtual X server:
#     e2e_test.sh CASE
# GLOVE_MONITOR and GLOVE_SIM name the binaries.
source "$(dirname "$0")/lib.sh"

# The window opens at its size with the hand drawn and the device it reads in its title, and
# Exit ends it and removes the file.
window_opens_and_exit_ends() {
    start_x
    start_sim --scenario silent
    printf '128,1,1,1,1,1,1,1,1,1\r\n' >"$exchange"
    start_monitor
    eval "$(xdotool getwindowgeometry --shell "$window")"
    [ "$WIDTH x $HEIGHT" = "413 x 451" ] || fail "window is $WIDTH x $HEIGHT"
    [ "$(xdotool getwindowname "$window")" = "Zarquin's Wireless VR Glove — $work/glove" ] ||
        fail "caption '$(xdotool getwindowname "$window")'"
    skin_at 1867 1500 || fail "no palm"
    exit_removes_the_exchange_file
}

# A held pose: the exchange file, the values line and the bars where the formulas put them.
connect_shows_the_pose() {
    start_x
    start_sim --hold 1,200,150,180,100,7,8,9,10
    start_monitor
    # Before Connect the thumb covers (55, 108) and finger 0 reaches up to (88, 40).
    skin_at 825 1620 || fail "thumb not at rest"
    click_connect
    wait_for_text "128  1  200  150  180  100  7  8  9  10"
    [ "$(cat "$exchange")" = $'128,1,200,150,180,100,7,8,9,10\r' ] || fail "exchange: $(cat -A "$exchange")"
    # value 3 = 200: the thumb spans 920 to 1215; value 4 = 150: finger 0's top is 800;
    # value 5 = 180: finger 1's top is 600.
    ! skin_at 825 1620 || fail "thumb did not shrink"
    skin_at 1050 1620 || fail "thumb missing"
    ! skin_at 1327 600 || fail "finger 0 did not drop"
    skin_at 1327 900 || fail "finger 0 missing"
    ! skin_at 1687 450 || fail "finger 1 did not drop"
    skin_at 1687 700 || fail "finger 1 missing"
    exit_removes_the_exchange_file
}

connect_shows_the_gesture_warning() {
    start_x
    start_sim --scenario gesture
    start_monitor
    click_connect
    wait_for_text "        Be Nice!!!!!            "
}

connect_shows_the_battery_warning() {
    start_x
    start_sim --scenario battery
    start_monitor
    click_connect
    wait_for_text "Check Glove...Battery may be Low"
}

silent_glove_is_no_device() {
    start_x
    start_sim --scenario silent
    start_monitor
    click_connect
    wait_for_text " No Device Found"
}

# Unplugged mid-stream: " No Device Found" within a second, and a new glove behind the same
# name is shown again.
unplug_and_replug() {
    start_x
    start_sim --scenario unplug --for 2 --hold 1,200,150,180,100,7,8,9,10
    start_monitor
    click_connect
    wait_for_text "128  1  200  150  180  100  7  8  9  10"
    while kill -0 "$sim_pid" 2>/dev/null; do sleep 0.05; done
    wait_for_text " No Device Found" 1
    kill -0 "$monitor_pid" || fail "the program died"
    start_sim --hold 2,200,150,180,100,1,2,3,4
    wait_for_text "128  2  200  150  180  100  1  2  3  4"
    grep -c "failed" "$work/stderr" | grep -qx 1 || fail "stderr: $(cat "$work/stderr")"
}

sigterm_is_an_exit() {
    start_x
    start_sim --scenario wave
    start_monitor
    click_connect
    for _ in $(seq 50); do [ -e "$exchange" ] && break; sleep 0.05; done
    [ -e "$exchange" ] || fail "no exchange file while connected"
    kill -TERM "$monitor_pid"
    wait_clean_exit
    [ ! -e "$exchange" ] || fail "the exchange file is still there"
}

# liblo's oscdump and a plain UDP receiver: every counted frame of ten seconds arrives, in
# order, with the pose; the status texts arrive; a datagram holds what the exchange file held.
streams_every_frame_to_osc_and_udp() {
    start_x
    local osc_port udp_port
    osc_port="$(free_port)"
    udp_port="$(free_port)"
    start_receivers "$osc_port" "$udp_port"
    start_sim --count --hold 1,200,150,180,100,7,8,9,10
    start_monitor --osc "127.0.0.1:$osc_port" --udp "localhost:$udp_port"
    click_connect
    for _ in $(seq 100); do grep -q /glove/frame "$work/osc" && break; sleep 0.05; done
    sleep 11
    # The file as one frame left it, in hex, to find among the datagrams.
    local snapshot=""
    for _ in $(seq 100); do
        snapshot="$(od -An -v -tx1 "$exchange" 2>/dev/null | tr -d ' \n')"
        [[ "$snapshot" == 3132382c312c3230302c* && "$snapshot" == *0d0a ]] && break
        sleep 0.01
    done
    sleep 0.2
    click_exit
    wait_clean_exit

    local problem
    problem="$(awk '$2 == "/glove/frame" {
        if ($3 != "iiiiiiiiii" || $4 != 128 || $5 != 1 || $6 != 200 || $7 != 150 || $8 != 180 ||
            $9 != 100) { print "not the pose: " $0; found = 1; exit }
        counter = (($10 * 128 + $11) * 128 + $12) * 128 + $13
        if (n++ && counter != last + 1) { print last + 1; found = 1; exit }
        last = counter
    }
    END { if (!found && n < 480) print "only " n " frames" }' "$work/osc")"
    if [[ "$problem" =~ ^[0-9]+$ ]]; then
        # Tell a frame the network lost from one the poll never read whole: UDP has it or not.
        local line
        line="$(printf '128,1,200,150,180,100,%d,%d,%d,%d\r\n' $((problem >> 21 & 127)) \
            $((problem >> 14 & 127)) $((problem >> 7 & 127)) $((problem & 127)) |
            od -An -v -tx1 | tr -d ' \n')"
        grep -qx "$line" "$work/udp" && problem="frame $problem missing from OSC, not from UDP" ||
            problem="frame $problem missing from OSC and UDP"
    fi
    [ -z "$problem" ] || fail "$problem"
    grep -qF '/glove/status s "Connecting....."' "$work/osc" || fail "no Connecting status"
    grep -qE '/glove/status s "128  1  200  150  180  100  [0-9]+  [0-9]+  [0-9]+  [0-9]+"' \
        "$work/osc" || fail "no values line status"
    grep -qx "$snapshot" "$work/udp" || fail "no datagram holds the exchange file's $snapshot"
    [ "$(wc -l <"$work/udp")" -ge 480 ] || fail "only $(wc -l <"$work/udp") datagrams"
    ! grep -q receiver "$work/stderr" || fail "stderr: $(cat "$work/stderr")"
}

# A port saved once is read at every start with no options, and --port still wins.
saved_port_and_the_command_line() {
    start_x
    start_sim --hold 1,200,150,180,100,7,8,9,10
    "$GLOVE_MONITOR" --save-settings --port "$work/glove" --exchange-file "$exchange" >"$work/saved"
    local conf="$XDG_CONFIG_HOME/glove-monitor/glove-monitor.conf"
    [ "$(head -n1 "$work/saved")" = "Saved in $conf:" ] || fail "said: $(cat "$work/saved")"
    grep -qx "port=$work/glove" "$work/saved" || fail "said: $(cat "$work/saved")"
    [ "$(stat -c %a "$conf")" = 600 ] || fail "mode $(stat -c %a "$conf")"
    [ ! -e "$HOME/.config" ] || fail "XDG_CONFIG_HOME was not followed"
    open_monitor
    click_connect
    wait_for_text "128  1  200  150  180  100  7  8  9  10"
    [ "$(cat "$exchange")" = $'128,1,200,150,180,100,7,8,9,10\r' ] || fail "exchange: $(cat -A "$exchange")"
    click_exit
    wait_exit 5
    ! grep -q '^glove-monitor:' "$work/stderr" || fail "stderr: $(cat "$work/stderr")"

    # Another glove elsewhere, named on the command line; the saved exchange file still holds.
    "$GLOVE_SIM" --link "$work/other" --hold 2,200,150,180,100,1,2,3,4 >/dev/null &
    pids+=($!)
    for _ in $(seq 100); do [ -e "$work/other" ] && break; sleep 0.05; done
    open_monitor --port "$work/other"
    click_connect
    wait_for_text "128  2  200  150  180  100  1  2  3  4"
    [ "$(cat "$exchange")" = $'128,2,200,150,180,100,1,2,3,4\r' ] || fail "exchange: $(cat -A "$exchange")"
    "$GLOVE_MONITOR" --show-settings --port "$work/other" >"$work/shown"
    grep -qx "port: $work/other (command line)" "$work/shown" || fail "shown: $(cat "$work/shown")"
    grep -qx "exchange-file: $exchange (saved)" "$work/shown" || fail "shown: $(cat "$work/shown")"
    click_exit
    wait_exit 5

    # Forgotten: the defaults again, and a damaged file is reported without stopping a start.
    "$GLOVE_MONITOR" --save-settings | grep -q "^Removed the settings in $conf" || fail "not removed"
    [ ! -e "$conf" ] || fail "the file is still there"
    printf 'port=0\n' >"$conf"
    "$GLOVE_MONITOR" --show-settings >"$work/shown" 2>"$work/err" || fail "status $?"
    grep -qx "port: /dev/ttyS1 (default)" "$work/shown" || fail "shown: $(cat "$work/shown")"
    [ "$(grep '^glove-monitor:' "$work/err")" = "glove-monitor: $conf: port: Invalid port number: 0 (1 to 255); the default is used" ] ||
        fail "stderr: $(cat "$work/err")"
    # A bad option saves nothing.
    local status=0
    "$GLOVE_MONITOR" --save-settings --port 0 2>/dev/null || status=$?
    [ "$status" = 2 ] || fail "status $status"
    [ "$(cat "$conf")" = "port=0" ] || fail "the file was changed: $(cat "$conf")"
}

# A left and a right glove, each with a set of settings of its own, both run; a third monitor
# on the left one's exchange file is refused with one line naming it, until it is killed.
two_gloves_with_named_settings() {
    start_x
    local side
    for side in left right; do
        "$GLOVE_MONITOR" --settings "$side" --save-settings --port "$work/glove-$side" \
            --exchange-file "$work/InputFile-$side" --osc-prefix "/$side" >/dev/null
        "$GLOVE_MONITOR" --settings "$side" --show-settings >"$work/shown"
        grep -qx "osc-prefix: /$side (saved)" "$work/shown" || fail "shown: $(cat "$work/shown")"
    done
    "$GLOVE_MONITOR" --show-settings | grep -qx "osc-prefix: /glove (default)" ||
        fail "the usual settings changed"
    start_sim --hold 1,200,150,180,100,7,8,9,10
    mv "$work/glove" "$work/glove-left"
    start_sim --hold 2,200,150,180,100,1,2,3,4
    mv "$work/glove" "$work/glove-right"
    open_monitor --settings left
    local left_pid="$monitor_pid"
    click_connect
    wait_for_text "128  1  200  150  180  100  7  8  9  10"
    open_monitor --settings right -geometry +450+0
    click_connect
    wait_for_text "128  2  200  150  180  100  1  2  3  4"
    [ "$(cat "$work/InputFile-left")" = $'128,1,200,150,180,100,7,8,9,10\r' ] || fail "left file"
    [ "$(cat "$work/InputFile-right")" = $'128,2,200,150,180,100,1,2,3,4\r' ] || fail "right file"

    # As a new content of the left monitor's, between its write and its rename.
    local hidden="$work/.InputFile-left.Ab3-_Zz09xYw"
    printf '128,1\r\n' >"$hidden"
    local status=0
    "$GLOVE_MONITOR" --exchange-file "$work/InputFile-left" 2>"$work/err" || status=$?
    [ "$status" = 2 ] || fail "status $status"
    [ "$(cat "$work/err")" = "glove-monitor: $work/InputFile-left is written by another glove-monitor (pid $left_pid on $work/glove-left); give each glove its own --exchange-file" ] ||
        fail "stderr: $(cat "$work/err")"
    [ -e "$hidden" ] || fail "the refused monitor removed the running one's new content"
    kill -KILL "$left_pid"
    wait "$left_pid" 2>/dev/null || true
    open_monitor --settings left
    ! grep -q "written by another" "$work/stderr" || fail "stderr: $(cat "$work/stderr")"
    [ ! -e "$hidden" ] || fail "the killed monitor's leftover stayed"
}

# example NAME: the README's code block marked <!-- example: NAME -->, with this test's own
# directory for /tmp and free ports for 9000 and 7000, so that it runs beside other tests.
example() {
    awk -v mark="<!-- example: $1 -->" '
        $0 == mark { on = 1; next }
        on && /^    / { sub(/^    /, ""); print; started = 1; next }
        on && started && !/^$/ { exit }' "$readme" |
        sed -e "s#/tmp#$work/tmp#g" -e "s/9000/$osc_port/g" -e "s/7000/$udp_port/g"
}

# The README's shell and Python examples, run with the built programs under their installed
# names.
readme_examples_run_as_written() {
    start_x
    readme="$(realpath "$(dirname "$0")/../../README.md")"
    mkdir -p "$work/bin" "$work/tmp"
    ln -s "$GLOVE_MONITOR" "$work/bin/glove-monitor"
    ln -s "$GLOVE_SIM" "$work/bin/glove-sim"
    export PATH="$work/bin:$PATH"
    osc_port="$(free_port)"
    udp_port="$(free_port)"
    local pose="128,1,200,150,180,100,7,8,9,10"

    # The directory watch, the UDP reader and the recording's reader.
    exchange="$work/tmp/InputFile"
    start_sim --hold 1,200,150,180,100,7,8,9,10
    start_monitor --udp "127.0.0.1:$udp_port" --record "$HOME/glove.csv"
    click_connect
    wait_for_text "128  1  200  150  180  100  7  8  9  10"
    timeout 2 bash -c "$(example inotify)" >"$work/watched" || true
    [ "$(grep -cx "$pose"$'\r' "$work/watched")" -ge 40 ] ||
        fail "inotify: $(grep -c . "$work/watched") lines: $(head -n3 "$work/watched")"
    timeout 2 python3 -u -c "$(example udp.py)" >"$work/udp" || true
    [ "$(grep -cxF "[${pose//,/, }]" "$work/udp")" -ge 40 ] || fail "udp.py: $(head -n3 "$work/udp")"
    click_exit
    wait_exit 5
    (cd "$HOME" && python3 -c "$(example csv.py)") >"$work/rows"
    [ "$(wc -l <"$work/rows")" = "$(($(wc -l <"$HOME/glove.csv") - 1))" ] &&
        grep -qE "^[0-9.]+ \[${pose//,/, }\]$" "$work/rows" || fail "csv.py: $(head -n3 "$work/rows")"

    # Two gloves, each with its named settings, its own file and OSC prefix.
    oscdump -L "$osc_port" >"$work/osc" 2>&1 &
    pids+=($!)
    source <(example two-gloves) >"$work/two-gloves.out" 2>&1
    pids+=($(jobs -p))
    local windows=()
    for _ in $(seq 100); do
        mapfile -t windows < <(xdotool search --onlyvisible --name "Wireless VR Glove")
        [ "${#windows[@]}" = 2 ] && break
        sleep 0.1
    done
    [ "${#windows[@]}" = 2 ] || fail "${#windows[@]} windows"
    for window in "${windows[@]}"; do click_connect; done
    sleep 1
    for side in left right; do
        grep -qE $'^128(,[0-9]+){9}\r$' "$work/tmp/InputFile-$side" || fail "no $side frames"
        grep -q "/$side/frame iiiiiiiiii 128 " "$work/osc" || fail "no /$side/frame"
    done
    example glove-monitor-left.desktop >"$work/glove-monitor-left.desktop"
    desktop-file-validate "$work/glove-monitor-left.desktop" || fail "the .desktop file"
}

# 10 s of counted frames whose readings sit on 128, recorded, then replayed into a second
# monitor that records them again: once it is in step, the second recording's frames are the
# first's, one for one, to the end.
record_and_replay_round_trip() {
    start_x
    record_for 10 "$work/first.csv" --scenario rest --count
    record_for 15 "$work/second.csv" --replay "$work/first.csv"
    for f in first second; do
        head -n1 "$work/$f.csv" | grep -qx "time,elapsed_ms,v1,v2,v3,v4,v5,v6,v7,v8,v9,v10" ||
            fail "$f.csv header"
        tail -n +2 "$work/$f.csv" | cut -d, -f3- >"$work/$f.values"
    done
    local rows
    rows="$(wc -l <"$work/first.values")"
    [ "$rows" -ge 400 ] || fail "first.csv holds $rows frames of 10 s"
    local on128
    on128="$(cut -d, -f2-6 "$work/first.values" | grep -c 128)"
    [ "$on128" -ge $((rows / 2)) ] || fail "only $on128 frames hold a reading of 128"
    # Rows of the second recording before it is in step, and rows in step.
    local step
    step="$(awk 'NR == FNR { a[++n] = $0; at[$0] = n; next } { b[++m] = $0 }
        END {
            for (j = 1; j <= m; j++) {
                if (!(b[j] in at) || m - j != n - at[b[j]]) continue
                for (i = 0; j + i <= m && b[j + i] == a[at[b[j]] + i]; i++) {}
                if (j + i > m) { print j - 1, m - j + 1; exit }
            }
        }' "$work/first.values" "$work/second.values")"
    echo "second.csv: rows before in step, rows in step: $step"
    [ -n "$step" ] || fail "the second recording never matches the first to its end"
    set -- $step
    [ "$1" -le 96 ] || fail "in step only after $1 frames"
    [ "$2" -ge $((rows - 96)) ] || fail "only $2 of $rows frames in step"
}

# A glove that streamed for a while before Connect: the recording starts with the frames of
# now, at the line's pace, not with a burst of what was sent meanwhile.
late_connect_records_no_backlog() {
    start_x
    start_sim --count --hold 1,2,3,4,5,6,7,8,9
    start_monitor --record "$work/late.csv"
    sleep "${PRE_RUN:-5}"
    click_connect
    sleep 2
    click_exit
    wait_clean_exit
    # Rows in the first second, and the first row's frame counter (values 7-10).
    local first
    first="$(awk -F, 'NR == 2 { t0 = $2; n0 = (($9 * 128 + $10) * 128 + $11) * 128 + $12 }
        NR > 1 && $2 - t0 < 1000 { rows++ } END { print rows, n0 }' "$work/late.csv")"
    echo "rows in the first second, first frame: $first"
    set -- $first
    [ "$1" -ge 40 ] && [ "$1" -le 50 ] || fail "$1 rows in the first second"
    # Sent before Connect: about 48 a second of the pre-run.
    [ "$2" -ge $((${PRE_RUN:-5} * 40)) ] || fail "the first row is frame $2, sent before Connect"
}

bad_option_opens_no_window() {
    local status=0
    "$GLOVE_MONITOR" --port 0 2>"$work/err" || status=$?
    [ "$status" = 2 ] || fail "status $status"
    grep -q "Invalid port number" "$work/err" || fail "message: $(cat "$work/err")"
    status=0
    "$GLOVE_MONITOR" --udp 127.0.0.1:9000 --osc no-such-host.invalid:9000 2>"$work/err" || status=$?
    [ "$status" = 2 ] || fail "status $status for a name that does not resolve"
    grep -q "cannot resolve no-such-host.invalid" "$work/err" || fail "message: $(cat "$work/err")"
    [ "$("$GLOVE_MONITOR" --version)" = "Glove Monitor 1.00" ] || fail "--version"
    # A recording never overwrites, and a path it cannot use stops the start, a missing
    # folder named as such.
    echo "keep me" >"$work/kept.csv"
    for path in "$work/kept.csv" "$work/no/such/dir/r.csv" "$work/no/such/dir/"; do
        status=0
        # An exchange file of its own: another monitor on this machine may hold the usual one.
        "$GLOVE_MONITOR" --exchange-file "$exchange" --record "$path" 2>"$work/err" || status=$?
        [ "$status" = 2 ] || fail "--record $path: status $status"
        [ "$(cat "$work/err")" = "glove-monitor: cannot record: $path: File exists" ] ||
            [ "$(cat "$work/err")" = "glove-monitor: cannot record: folder $work/no/such/dir/: No such file or directory" ] ||
            fail "message: $(cat "$work/err")"
    done
    [ "$(cat "$work/kept.csv")" = "keep me" ] || fail "an existing file was overwritten"
}

# No display, or no platform plugin: status 3, and no recording or lock left to block the next start.
no_window_leaves_nothing() {
    local exchange="$work/ex/InputFile"
    mkdir "$work/ex"
    for platform in xcb no-such-platform; do
        local status=0
        env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM="$platform" "$GLOVE_MONITOR" \
            --record "$work/r.csv" --exchange-file "$exchange" 2>"$work/err" || status=$?
        [ "$status" = 3 ] || fail "$platform: status $status"
        [ "$(tail -n1 "$work/err")" = "glove-monitor: cannot open the window (no display, or no platform plugin: see above)" ] ||
            fail "$platform: $(cat "$work/err")"
        [ ! -e "$work/r.csv" ] || fail "$platform: the recording was left"
        [ -z "$(ls -A "$work/ex")" ] || fail "$platform: left $(ls -A "$work/ex")"
    done
}

# A saved record folder gets a file only from a run that reads frames.
saved_record_folder_fills_at_the_first_frame() {
    start_x
    start_sim --hold 1,200,150,180,100,7,8,9,10
    mkdir "$work/recordings"
    "$GLOVE_MONITOR" --save-settings --record "$work/recordings" >/dev/null
    start_monitor
    click_exit
    wait_exit 5
    [ -z "$(ls "$work/recordings")" ] || fail "a run without Connect left $(ls "$work/recordings")"
    start_monitor
    click_connect
    wait_for_text "128  1  200  150  180  100  7  8  9  10"
    click_exit
    wait_exit 5
    [ "$(ls "$work/recordings" | wc -l)" = 1 ] || fail "made: $(ls "$work/recordings")"
    [ "$(sed -n 2p "$work"/recordings/*.csv | cut -d, -f3-)" = "128,1,200,150,180,100,7,8,9,10" ] ||
        fail "first row: $(sed -n 2p "$work"/recordings/*.csv)"
}

# -platform reaches the toolkit: with no display the window opens off screen and runs.
toolkit_options_reach_the_toolkit() {
    env -u DISPLAY "$GLOVE_MONITOR" -platform offscreen -style fusion \
        --exchange-file "$exchange" 2>"$work/stderr" &
    monitor_pid=$!
    pids+=("$monitor_pid")
    sleep 1
    kill -0 "$monitor_pid" || fail "it did not run: $(cat "$work/stderr")"
    kill -TERM "$monitor_pid"
    wait_clean_exit
}

# Serial devices are listed with no display; this machine may have none.
list_ports_needs_no_display() {
    env -u DISPLAY "$GLOVE_MONITOR" --list-ports >"$work/ports" || fail "status $?"
    [ "$(tail -n1 "$work/ports")" = "To read a device at every start: glove-monitor --save-settings --port DEVICE" ] ||
        fail "last line: $(tail -n1 "$work/ports")"
    sed -i '$d' "$work/ports"
    [ -s "$work/ports" ] || fail "nothing printed"
    [ "$(cat "$work/ports")" = "No serial ports found." ] && return 0
    if grep -v '^/dev/[^ ]' "$work/ports"; then fail "not a device per line"; fi
}

# check_flex FROM_LINE: every /glove/flex after line FROM_LINE of $work/osc follows its
# /glove/frame and gives each value's place in the simulated hand's range (glove-sim's hand
# scenario), within 0.02; value 2, the battery, is not calibrated (-1). Prints what is wrong.
check_flex() {
    tail -n +"$1" "$work/osc" | awk '
    BEGIN { split("30 20 40 10 60 25 50 0", low); split("220 180 240 200 230 150 250 120", high) }
    $2 == "/glove/frame" { for (i = 2; i <= 10; i++) raw[i] = $(i + 3); framed = 1 }
    $2 == "/glove/flex" {
        if (!framed) { print "a flex with no frame before it"; exit }
        if ($3 != "fffffffff" || $4 != -1) { print "not calibrated as expected: " $0; exit }
        for (i = 3; i <= 10; i++) {
            want = (raw[i] - low[i - 2]) / (high[i - 2] - low[i - 2])
            got = $(i + 2)
            if (got - want > 0.02 || want - got > 0.02) { print "value " i ": " got ", not " want; exit }
        }
        framed = 0
        n++
    }
    END { if (n < 40) print "only " n " flex messages" }'
}

# Calibrate… from the window's context menu for 3 s while glove-sim's hand opens and closes:
# /glove/flex then follows every frame with each finger's place in its range. The
# calibration is kept for the device: a restart on it sends /glove/flex at once, a start on
# another device sends none.
calibrate_from_the_menu() {
    start_x
    local osc_port
    start_oscdump
    start_sim --scenario hand
    start_monitor --osc "127.0.0.1:$osc_port" --calibration-time 3
    click_connect
    for _ in $(seq 100); do grep -q /glove/frame "$work/osc" && break; sleep 0.05; done
    grep -q /glove/flex "$work/osc" && fail "/glove/flex before any calibration"
    # The context menu opens where the pointer is, with Calibrate… first.
    xdotool mousemove --window "$window" 380 100 click 3
    sleep 0.5
    xdotool mousemove_relative 20 10 click 1
    for _ in $(seq 100); do grep -q /glove/flex "$work/osc" && break; sleep 0.1; done
    sleep 2
    local problem
    problem="$(check_flex 1)"
    [ -z "$problem" ] || fail "$problem"
    grep -qE $'^128,[0-2],[0-9]+,[0-9]+,[0-9]+,[0-9]+,[0-9]+,[0-9]+,[0-9]+,[0-9]+\r$' "$exchange" ||
        fail "the exchange file is not raw: $(cat -A "$exchange")"
    grep -q '\\glove=0-2 [0-9]' \
        "$XDG_CONFIG_HOME/glove-monitor/glove-monitor.conf" ||
        fail "kept: $(cat "$XDG_CONFIG_HOME/glove-monitor/glove-monitor.conf")"
    # The outcome is told in a box over the window, which OK closes.
    local told
    told="$(xdotool search --onlyvisible --all --pid "$monitor_pid" --name '^Calibrate$' | head -n1)"
    [ -n "$told" ] || fail "no word of the outcome"
    xdotool windowfocus --sync "$told" key Return
    click_exit
    wait_exit 5

    local from
    from=$(($(wc -l <"$work/osc") + 1))
    start_monitor --osc "127.0.0.1:$osc_port"
    click_connect
    sleep 2
    problem="$(check_flex "$from")"
    [ -z "$problem" ] || fail "after a restart: $problem"
    click_exit
    wait_exit 5

    from=$(($(wc -l <"$work/osc") + 1))
    mv "$work/glove" "$work/other"
    start_sim --scenario hand
    open_monitor --port "$work/other" --exchange-file "$exchange" --osc "127.0.0.1:$osc_port"
    click_connect
    sleep 2
    tail -n +"$from" "$work/osc" | grep -q /glove/frame || fail "no frames from the other device"
    if tail -n +"$from" "$work/osc" | grep -q /glove/flex; then fail "the other device is calibrated"; fi
}

# The plot window, opened with the monitor: nine traces, each in its own colour, move with
# glove-sim's hand between two screenshots.
plot_shows_every_value_moving() {
    start_x
    start_sim --scenario hand
    start_monitor --plot
    local plot
    plot="$(timeout 20 xdotool search --sync --onlyvisible --all --pid "$monitor_pid" --name '^Glove plot$' | head -n1)"
    [ -n "$plot" ] || fail "no plot window"
    # Left of the monitor's window, which opens 304 pixels from the left edge.
    xdotool windowsize "$plot" 300 560
    xdotool windowmove "$plot" 0 0
    click_connect
    sleep 3
    import -window "$plot" -depth 8 ppm:"$work/one.ppm"
    sleep 0.7
    import -window "$plot" -depth 8 ppm:"$work/two.ppm"
    local problem
    problem="$(python3 - "$work/one.ppm" "$work/two.ppm" <<'PY'
import sys
colours = [0x1f77b4, 0xd62728, 0x2ca02c, 0x9467bd, 0xff7f0e, 0x8c564b, 0xe377c2, 0x17becf, 0x7f7f7f]
def pixels(path):
    data = open(path, "rb").read()
    fields, at = [], 0
    while len(fields) < 4:  # P6, width, height, maximum
        while data[at:at + 1].isspace(): at += 1
        start = at
        while not data[at:at + 1].isspace(): at += 1
        fields.append(data[start:at])
    width = int(fields[1]); body = data[at + 1:]
    found = {}
    for i in range(0, len(body), 3):
        rgb = body[i] << 16 | body[i + 1] << 8 | body[i + 2]
        # Right of the labels, which take the first 110 pixels.
        if rgb in colours and i // 3 % width >= 110:
            found.setdefault(rgb, set()).add((i // 3 % width, i // 3 // width))
    return found
one, two = pixels(sys.argv[1]), pixels(sys.argv[2])
for n, colour in enumerate(colours, start=2):
    a, b = one.get(colour, set()), two.get(colour, set())
    if len(a) < 25: print("value %d: %d pixels of its trace" % (n, len(a))); break
    if len(a ^ b) < 10: print("value %d: the trace did not move" % n); break
PY
)"
    [ -z "$problem" ] || fail "$problem"
    # Closing the plot leaves the monitor running; Exit ends the program.
    xdotool windowfocus --sync "$plot" key ctrl+w
    sleep 0.3
    if xdotool search --onlyvisible --all --pid "$monitor_pid" --name '^Glove plot$'; then
        fail "the plot did not close"
    fi
    kill -0 "$monitor_pid" || fail "closing the plot ended the monitor"
    click_exit
    wait_exit 5
    [ "$exit_status" = 0 ] || fail "exit status $exit_status"
}

# A file that is not a recording, a calibration time out of range and a damaged kept
# calibration: one line each; nothing kept is lost, and with the damaged one the monitor runs.
bad_calibration_input() {
    start_x
    local conf="$XDG_CONFIG_HOME/glove-monitor/glove-monitor.conf" status=0
    printf 'time,elapsed_ms,v1,v2,v3,v4,v5,v6,v7,v8,v9,v10\n' >"$work/rec.csv"
    printf '2026-12-07T09:31:02.123+01:00,%d.000,128,1,%d,100,50,60,70,80,90,100\n' 0 40 1 140 >>"$work/rec.csv"
    "$GLOVE_MONITOR" --port "$work/glove" --calibrate-from "$work/rec.csv" >/dev/null || fail "status $?"
    local kept
    kept="$(cat "$conf")"
    "$GLOVE_MONITOR" --port "$work/glove" --calibrate-from /etc/passwd 2>"$work/err" || status=$?
    [ "$status" = 2 ] || fail "status $status for a file that is not a recording"
    [ "$(wc -l <"$work/err")" = 1 ] && grep -q "^glove-monitor: cannot calibrate from a file that is not a recording: /etc/passwd:1:" "$work/err" ||
        fail "stderr: $(cat "$work/err")"
    [ "$(cat "$conf")" = "$kept" ] || fail "the kept calibration changed"
    status=0
    "$GLOVE_MONITOR" --calibration-time 2 2>"$work/err" || status=$?
    [ "$status" = 2 ] && [ "$(cat "$work/err")" = "glove-monitor: Invalid --calibration-time: '2' (whole seconds, 3 to 600); see --help" ] ||
        fail "status $status, stderr: $(cat "$work/err")"

    sed -i 's/=1-1 40-140/=1-1 40-x/' "$conf"
    start_sim --hold 1,200,150,180,100,7,8,9,10
    start_monitor
    click_connect
    wait_for_text "128  1  200  150  180  100  7  8  9  10"
    [ "$(grep -c calibration "$work/stderr")" = 1 ] && grep -q "is not a calibration .*; the glove is not calibrated$" "$work/stderr" ||
        fail "stderr: $(cat "$work/stderr")"
}

# recording FILE ROWS POSE...: a recording of ROWS frames at the glove's pace, each holding
# the next of the poses (V2,...,V10) in turn.
recording() {
    local file="$1" rows="$2"
    shift 2
    local poses=("$@")
    printf 'time,elapsed_ms,v1,v2,v3,v4,v5,v6,v7,v8,v9,v10\n' >"$file"
    for ((i = 0; i < rows; i++)); do
        printf '2026-12-07T09:31:02.123+01:00,%d.000,128,%s\n' $((i * 21)) "${poses[i % ${#poses[@]}]}"
    done >>"$file"
}

# --learn-posture from recordings: each posture that cannot be learnt is one line on stderr
# and the others are kept, 1,000 given at once included (a device keeps 100); a start on the
# device then sends /glove/posture with the posture held, and again while it holds.
learn_and_forget_postures() {
    local fist=1,200,150,180,100,7,8,9,10 open=1,20,15,18,10,70,80,90,100 status=0
    cd "$work"
    recording fist.csv 48 "$fist"
    recording open.csv 48 "$open"
    recording short.csv 11 "$open"
    recording moving.csv 48 "$fist" "$open" 1,100,80,100,60,40,40,50,50
    "$GLOVE_MONITOR" --port "$work/glove" --learn-posture fist=fist.csv --learn-posture =open.csv \
        --learn-posture $'a\tb=open.csv' --learn-posture fist=open.csv --learn-posture none=open.csv \
        --learn-posture short=short.csv --learn-posture moving=moving.csv \
        --learn-posture passwd=/etc/passwd --learn-posture gone=gone.csv \
        --learn-posture open=open.csv >out 2>err || status=$?
    [ "$status" = 2 ] || fail "status $status"
    diff err - <<'EOF' || fail "stderr above"
glove-monitor: cannot learn the posture "": a posture needs a name
glove-monitor: cannot learn the posture "a\x09b": a posture's name cannot hold a control character
glove-monitor: cannot learn the posture "fist": it is given more than once; the first counts
glove-monitor: cannot learn the posture "none": "none" means no posture and cannot name one
glove-monitor: cannot learn the posture "short": short.csv: learning a posture needs at least 12 frames, not 11
glove-monitor: cannot learn the posture "moving": moving.csv: the hand did not hold still: 16 of 48 frames held one posture
glove-monitor: cannot learn the posture "passwd": /etc/passwd:1: not a recording: the first line is not time,elapsed_ms,v1,v2,v3,v4,v5,v6,v7,v8,v9,v10
glove-monitor: cannot learn the posture "gone": gone.csv: cannot be read: No such file or directory
EOF
    grep -qx "2 postures of $work/glove kept in $XDG_CONFIG_HOME/glove-monitor/glove-monitor.conf:" out &&
        grep -qx 'fist=0.004 0.784 0.588 0.706 0.392 0.027 0.031 0.035 0.039 note=60' out ||
        fail "stdout: $(cat out)"

    # 1,000 at once: the first 98 new ones fill the device's 100, one line tells of the rest.
    local many=()
    for i in $(seq 1000); do many+=(--learn-posture "p$i=open.csv"); done
    status=0
    "$GLOVE_MONITOR" --port "$work/glove" "${many[@]}" --learn-posture fist=fist.csv >out 2>err || status=$?
    [ "$status" = 2 ] && [ "$(cat err)" = "glove-monitor: cannot learn 902 more postures (\"p99\" to \"p1000\"): at most 100 can be kept for $work/glove" ] ||
        fail "status $status, stderr: $(cat err)"
    grep -qx 'Relearnt "fist" from fist.csv' out &&
        grep -q '^100 postures of' out && [ "$(grep -c '^p[0-9]*=' out)" = 98 ] ||
        fail "stdout: $(head -n3 out)"

    local forget=()
    for i in $(seq 98); do forget+=(--forget-posture "p$i"); done
    "$GLOVE_MONITOR" --port "$work/glove" "${forget[@]}" --forget-posture p99 >out || fail "status $?"
    grep -qx 'No posture "p99" was kept' out && grep -q '^2 postures of' out || fail "stdout: $(cat out)"

    # --posture-note: a note another posture plays, a posture not kept and a name given twice
    # are a line each and status 2, the others kept; with --learn-posture, a posture learnt
    # without a note passes over those given.
    local conf="$XDG_CONFIG_HOME/glove-monitor/glove-monitor.conf"
    status=0
    "$GLOVE_MONITOR" --port "$work/glove" --posture-note open=60 --posture-note thumb=70 \
        --posture-note fist=72 --posture-note fist=73 >out 2>err || status=$?
    [ "$status" = 2 ] || fail "status $status"
    diff err - <<'EOF' || fail "stderr above"
glove-monitor: cannot give the posture "fist" note 73: its note is given more than once; the first counts
glove-monitor: cannot give the posture "open" note 60: note 60 is played by the posture "fist" already
glove-monitor: cannot give the posture "thumb" note 70: no posture is named "thumb"
EOF
    grep -qx 'The posture "fist" plays note 72' out && grep -q '^fist=.* note=72$' out ||
        fail "stdout: $(cat out)"
    cp "$conf" before.conf
    status=0
    "$GLOVE_MONITOR" --port "$work/glove" --posture-note open=72 >out 2>err || status=$?
    [ "$status" = 2 ] && [ "$(wc -l <err)" = 1 ] && cmp -s "$conf" before.conf ||
        fail "status $status, stderr: $(cat err)"
    "$GLOVE_MONITOR" --port "$work/glove" --learn-posture point=open.csv --learn-posture flat=open.csv \
        --posture-note flat=60 --posture-note open=62 >out || fail "status $?"
    local notes
    notes="$("$GLOVE_MONITOR" --port "$work/glove" --show-settings | grep '^postures of ')"
    [ "$notes" = "postures of $work/glove: \"fist\" (note 72), \"open\" (note 62), \"point\" (note 61), \"flat\" (note 60)" ] ||
        fail "$notes"
    status=0
    "$GLOVE_MONITOR" --port "$work/glove" --posture-note point=128 2>err || status=$?
    [ "$status" = 2 ] && [ "$(cat err)" = "glove-monitor: --posture-note needs NAME=NOTE, a name and a note from 0 to 127, not 'point=128'; see --help" ] ||
        fail "status $status, stderr: $(cat err)"
    "$GLOVE_MONITOR" --port "$work/glove" --forget-posture point --forget-posture flat >out || fail "status $?"

    # A damaged set is left to be mended, and a file that cannot be written keeps what it had.
    cp "$conf" kept.conf
    sed -i 's/\\nopen=/\\nopen=x/' "$conf"
    cp "$conf" damaged.conf
    status=0
    "$GLOVE_MONITOR" --port "$work/glove" --forget-posture fist >out 2>err || status=$?
    [ "$status" = 1 ] && [ "$(wc -l <err)" = 2 ] && grep -q "not a set of postures (line 2: " err &&
        cmp -s "$conf" damaged.conf || fail "status $status, stderr: $(cat err)"
    ln -sf "$work/kept.conf" "$conf"
    status=0
    "$GLOVE_MONITOR" --port "$work/glove" --learn-posture open=open.csv >out 2>err || status=$?
    [ "$status" = 1 ] && grep -q "is a symbolic link; it is not written through$" err &&
        [ "$(wc -l <err)" = 1 ] || fail "status $status, stderr: $(cat err)"
    rm "$conf" && mv kept.conf "$conf"

    # The postures kept, at a start on the device.
    start_x
    local osc_port
    osc_port="$(free_port)"
    oscdump -L "$osc_port" >osc 2>&1 &
    pids+=($!)
    start_sim --hold "$fist"
    start_monitor --osc "127.0.0.1:$osc_port"
    click_connect
    sleep 2.5
    local said
    said="$(awk '$2 == "/glove/posture" { print $4 }' osc | uniq -c | awk '{ print $2 ":" ($1 > 1) }' | tr '\n' ' ')"
    [ "$said" = '"none":0 "fist":1 ' ] || fail "/glove/posture said: $said"
}

# Learn posture… from the window's menu three times, glove-sim holding each posture in turn;
# then glove-sim plays its postures scenario and /glove/posture follows its log, a posture not
# learnt and a move between two being "none".
learn_postures_from_the_menu() {
    start_x
    local osc_port name dialog told from
    start_oscdump
    start_sim --scenario postures --posture fist
    start_monitor --osc "127.0.0.1:$osc_port"
    click_connect
    for name in fist open point; do
        if [ "$name" != fist ]; then
            kill "$sim_pid"
            start_sim --scenario postures --posture "$name"
        fi
        sleep 1
        xdotool windowfocus --sync "$window" key ctrl+l
        dialog="$(timeout 10 xdotool search --sync --onlyvisible --all --pid "$monitor_pid" \
            --name '^Learn posture$' | head -n1)"
        [ -n "$dialog" ] || fail "no dialog for the name of $name"
        xdotool windowfocus --sync "$dialog" type "$name"
        xdotool key Return
        sleep 2.5
        told="$(timeout 10 xdotool search --sync --onlyvisible --all --pid "$monitor_pid" \
            --name '^Postures$' | head -n1)"
        [ -n "$told" ] || fail "no word of learning $name"
        xdotool windowfocus --sync "$told" key Return
        "$GLOVE_MONITOR" --port "$work/glove" --show-settings | grep -q "^postures of .*\"$name\"" ||
            fail "$name not kept: $("$GLOVE_MONITOR" --port "$work/glove" --show-settings)"
    done

    kill "$sim_pid"
    from=$(($(wc -l <"$work/osc") + 1))
    start_sim --scenario postures --seed 3 --for 15 --posture-log "$work/log"
    while kill -0 "$sim_pid" 2>/dev/null; do sleep 0.1; done
    sleep 0.5
    # What the simulator held, hold by hold (moves left out, a posture not learnt being none),
    # and what the monitor said, each a run of one name.
    local held said
    held="$(awk '$3 != "none" { print ($3 == "fist" || $3 == "open" || $3 == "point") ? $3 : "none" }' "$work/log" | uniq | tr '\n' ' ')"
    said="$(tail -n +"$from" "$work/osc" | awk '$2 == "/glove/posture" { gsub(/"/, "", $4); print $4 }' | uniq | tr '\n' ' ')"
    [ "$(wc -w <<<"$held")" -ge 5 ] || fail "too few holds to tell: $held"
    # Each hold said in turn. Between two, a move may be said as none, or not at all when the
    # hand passes from one posture straight into the next; the monitor may first say the
    # posture held before the simulator started again, and may not have confirmed the last
    # hold when it stopped.
    python3 - "$held" "$said" <<'EOF' || fail "/glove/posture said: $said; glove-sim held: $held"
import sys
held, said = sys.argv[1].split(), sys.argv[2].split()
if said and said[0] == "point" and held[0] != "point":
    said = said[1:]
j = 0
for name in said:
    if j < len(held) and name == held[j]:
        j += 1
    elif name != "none" and not (j > 0 and name == held[j - 1]):
        sys.exit(1)
sys.exit(0 if j >= len(held) - 1 else 1)
EOF
    echo "glove-sim held: $held; /glove/posture said: $said"
}

"${1:?which case}"
echo "PASS: $1"

#!/usr/bin/env bash
# Two tobrel windows used as a person would: each on its own host of a namespace LAN, both shown
# on one real X display (Xvfb), each with its own microphone and speaker on a private sound server.
# A's microphone hears 440 Hz, B's 620 Hz (pure tones that GSM carries at a steady level
# whatever block it starts decoding with; 1000 and 1300 Hz, for one, sometimes come out far
# weaker). With xdotool: A picks B from its address list and presses the on/off button, B answers
# by itself, both show the call, each speaker plays the other side's tone (measured with sox), A
# hangs up and both return to idle; A is closed with its Close button, B by the end of the desktop
# session. Screenshots of both windows in the call and after it are kept in OUTPUT-DIR.
# Usage: two_windows.sh TOBREL LAYOUT-PROBE OUTPUT-DIR. Exit 77 = skipped (the reason is printed).
set -euo pipefail
tobrel=$1
probe=$2
out=$3
here=$(cd "$(dirname "$0")" && pwd)
tools="$here/../../../tools"
export NETLAB_PREFIX="vw$$"
# In a sanitizer build: what system libraries keep until exit is not ours (tests/support/system-libraries.supp); full stacks
# name the sound plugins' allocations.
export LSAN_OPTIONS="suppressions=$here/../../support/system-libraries.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export ASAN_OPTIONS="fast_unwind_on_malloc=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"

skip() {
    echo "SKIPPED: $*"
    exit 77
}
if ! reason=$("$tools/netlab" check); then
    skip "$reason"
fi
for tool in Xvfb xdotool sox paplay parec /usr/bin/import /usr/bin/convert; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        timeout 5 tail --pid="$pid" -f /dev/null 2>/dev/null || kill -9 "$pid" 2>/dev/null || true
    done
    "$tools/soundserver" stop "$work/sound" >/dev/null 2>&1 || true
    "$tools/netlab" down || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    for side in a b; do
        [[ -s $work/$side.log ]] && { echo "== window $side said:"; cat "$work/$side.log"; }
    done
    exit 1
}

# The display.
Xvfb -displayfd 3 -screen 0 1100x300x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
    [[ -s $work/display ]] && break
    sleep 0.1
done
[[ -s $work/display ]] || skip "Xvfb did not start: $(tail -n 2 "$work/xvfb.log" | tr '\n' ' ')"
export DISPLAY=":$(head -n 1 "$work/display")"

# The sound devices and the LAN.
if ! "$tools/soundserver" start "$work/sound" >"$work/sound.env" 2>"$work/sound.err"; then
    skip "no private sound server: $(cat "$work/sound.err")"
fi
while IFS= read -r line; do
    export "${line?}"
done <"$work/sound.env"
"$tools/netlab" up 2

sox -D -n -r 8000 -c 1 -b 16 "$work/a.wav" synth 90 sine 440 vol 0.5
sox -D -n -r 8000 -c 1 -b 16 "$work/b.wav" synth 90 sine 620 vol 0.5
paplay -d feed_a "$work/a.wav" &
pids+=($!)
paplay -d feed_b "$work/b.wav" &
pids+=($!)

# Where the controls are, as the window lays them out on this display.
ip netns exec "${NETLAB_PREFIX}1" "$probe" "$work/probe.dat" >"$work/layout" 2>"$work/probe.log" \
    || fail "the layout probe failed: $(cat "$work/probe.log")"
declare -A at
while read -r name x y w h; do
    at[$name]="$x $y $w $h"
done <"$work/layout"
centre() { # control -> "x y" of its centre
    local x y w h
    read -r x y w h <<<"${at[$1]}"
    echo "$((x + w / 2)) $((y + h / 2))"
}
click() { # window control [dx]: a left click on the control's centre, moved right by dx pixels
    local x y
    read -r x y <<<"$(centre "$2")"
    xdotool mousemove --window "$1" $((x + ${3:-0})) "$y" click 1
}

# Each window from its own copy of the program, so that each keeps its own settings file beside it.
start_window() { # side host microphone speaker; sets pid_<side> and win_<side>
    mkdir -p "$work/$1"
    cp "$tobrel" "$work/$1/tobrel"
    ip netns exec "${NETLAB_PREFIX}$2" env PULSE_SOURCE="$3" PULSE_SINK="$4" "$work/$1/tobrel" >"$work/$1.log" 2>&1 &
    local pid=$!
    pids+=("$pid")
    local window
    window=$(timeout 20 xdotool search --sync --all --onlyvisible --pid "$pid" --name Tobrel | head -n 1) \
        || fail "window $1 did not appear"
    printf -v "pid_$1" '%s' "$pid"
    printf -v "win_$1" '%s' "$window"
}
start_window a 1 mic_a null_a
start_window b 2 mic_b null_b
xdotool windowmove "$win_a" 0 0
xdotool windowmove "$win_b" 550 0

# The Led1 face: lit while in a call (blinking lime), dark green otherwise.
led_lit() { # window
    local x y
    read -r x y <<<"$(centre Led1)"
    for _ in $(seq 8); do
        /usr/bin/import -window "$1" png:- 2>/dev/null | /usr/bin/convert - -crop "1x1+$x+$y" txt:- | grep -qi '#00FF00' \
            && return 0
        sleep 0.1
    done
    return 1
}
shoot() { # window file
    /usr/bin/import -window "$1" "$out/$2"
    echo "screenshot: $out/$2"
}

# Both copies announce themselves when they start; give the announcements time to go round.
sleep 4
# A opens its address list (10.99.0.1, 10.99.0.2, 127.0.0.1, each with its computer name), goes one
# entry down to B's and takes it, then presses the on/off button.
read -r _ _ combo_width _ <<<"${at[ComboBox1]}"
click "$win_a" ComboBox1 $((combo_width / 2 - 8))
sleep 0.5
xdotool key Down Return
sleep 0.3
shoot "$win_a" tobrel-a-chose-b.png
click "$win_a" btnOnOff

for side in a b; do
    window=win_$side
    led_lit "${!window}" || fail "window $side does not show the call"
done
parec -d null_a.monitor --latency-msec=20 --raw --format=s16le --rate=8000 --channels=1 >"$work/a-heard.raw" &
rec_a=$!
parec -d null_b.monitor --latency-msec=20 --raw --format=s16le --rate=8000 --channels=1 >"$work/b-heard.raw" &
rec_b=$!
pids+=("$rec_a" "$rec_b")
sleep 4
shoot "$win_a" tobrel-a-in-call.png
shoot "$win_b" tobrel-b-in-call.png
kill "$rec_a" "$rec_b"

# A hangs up; both return to idle.
click "$win_a" btnOnOff
sleep 1.5
for side in a b; do
    window=win_$side
    ! led_lit "${!window}" || fail "window $side still shows a call after the hang-up"
done
shoot "$win_a" tobrel-a-after-call.png
shoot "$win_b" tobrel-b-after-call.png

band_rms() { # recording band: RMS amplitude within a band, skipping the first half second
    sox -t raw -r 8000 -e signed -b 16 -c 1 "$1" -n trim 0.5 sinc "$2" stat 2>&1 | awk '/^RMS +amplitude/ {print $3}'
}
a_other=$(band_rms "$work/a-heard.raw" 570-670)
a_own=$(band_rms "$work/a-heard.raw" 390-490)
b_other=$(band_rms "$work/b-heard.raw" 390-490)
b_own=$(band_rms "$work/b-heard.raw" 570-670)
echo "A's speaker: 620 Hz at $a_other (440 Hz at $a_own); B's speaker: 440 Hz at $b_other (620 Hz at $b_own)"
awk -v o="$a_other" -v s="$a_own" -v p="$b_other" -v t="$b_own" \
    'BEGIN { exit !(o > 0.05 && o > 5 * s && p > 0.05 && p > 5 * t) }' || fail "a side does not hear the other's tone"

# A is closed with its Close button, B as at the end of a desktop session (SIGTERM); both close
# cleanly and keep their settings beside the program.
click "$win_a" btnExit
kill -TERM "$pid_b"
for side in a b; do
    pid=pid_$side
    timeout 10 tail --pid="${!pid}" -f /dev/null || fail "window $side did not close"
    grep -q '^Volume=50' "$work/$side/tobrel.dat" || fail "window $side kept no settings file"
done
for side in a b; do
    pid=pid_$side
    wait "${!pid}" || fail "window $side ended with status $?"
done
echo "PASS: B was found in A's list and called; both heard each other; both returned to idle and closed cleanly"

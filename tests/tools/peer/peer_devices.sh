#!/usr/bin/env bash
# tobrel-peer on named sound devices of a private sound server. ALSA is given one named device,
# "headset" (speaker null_b, microphone mic_b), beside the default (null_a, mic_a). Checks that
# --list-devices shows it, that an unknown name is refused with exit status 2, and that a call
# between a peer on the defaults and one on the headset routes each side's sound to the device
# named: A's microphone hears 440 Hz, B's 620 Hz; null_b must play 440 Hz and null_a 620 Hz, each
# without the other tone (measured with sox). Exit 77 = skipped (the reason is printed).
set -euo pipefail
peer=$1
here=$(cd "$(dirname "$0")" && pwd)
tools="$here/../../../tools"
# In a sanitizer build: ALSA's own allocations while it loads its plugins are not ours; full
# stacks name them.
export LSAN_OPTIONS="suppressions=$here/../../support/system-libraries.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export ASAN_OPTIONS="fast_unwind_on_malloc=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
for tool in sox paplay parec pactl; do
    command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    "$tools/soundserver" stop "$work/sound" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    for side in a b; do [[ -s $work/$side.log ]] && { echo "== peer $side said:"; cat "$work/$side.log"; }; done
    exit 1
}

if ! "$tools/soundserver" start "$work/sound" >"$work/sound.env" 2>"$work/sound.err"; then
    echo "SKIPPED: no private sound server: $(cat "$work/sound.err")"
    exit 77
fi
while IFS= read -r line; do export "${line?}"; done <"$work/sound.env"
cat >"$work/names.conf" <<'ASOUND'
pcm.headset {
    type asym
    playback.pcm { type pulse device null_b }
    capture.pcm { type pulse device mic_b }
}
ASOUND
export ALSA_CONFIG_PATH="$ALSA_CONFIG_PATH:$work/names.conf"

# The lists.
"$peer" --list-devices >"$work/list" 2>/dev/null || fail "--list-devices exited with $?"
cat "$work/list"
[[ $(head -n 1 "$work/list") == "input: System default" ]] || fail "the inputs do not start with the default"
for line in "input: headset" "output: System default" "output: headset"; do
    grep -qxF "$line" "$work/list" || fail "no line '$line'"
done

# An unknown name.
status=0
"$peer" --no-presence --output-device "nosuch" >"$work/unknown" 2>&1 || status=$?
[[ $status -eq 2 ]] || fail "an unknown device exited with $status, not 2"
grep -qF "There is no output device 'nosuch'." "$work/unknown" || fail "unclear refusal: $(cat "$work/unknown")"

# A call: A on the defaults, B on the headset.
port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
pa=$(port); pb=$(port); qa=$(port); qb=$(port)
sox -D -n -r 8000 -c 1 -b 16 "$work/a.wav" synth 30 sine 440 vol 0.5
sox -D -n -r 8000 -c 1 -b 16 "$work/b.wav" synth 30 sine 620 vol 0.5
paplay -d feed_a "$work/a.wav" & pids+=($!)
paplay -d feed_b "$work/b.wav" & pids+=($!)
"$peer" --no-presence --port "$pb" --ping-port "$qb" --input-device headset --output-device headset \
    --duration 6 >"$work/b.log" 2>&1 & pids+=($!)
callee=$!
for _ in $(seq 100); do
    grep -q "^listening on" "$work/b.log" && break
    sleep 0.1
done
"$peer" --no-presence --port "$pa" --ping-port "$qa" --remote-port "$pb" --local-ip 127.0.0.1 --call 127.0.0.1 \
    --codec pcm8 --duration 5 >"$work/a.log" 2>&1 & pids+=($!)
caller=$!
sleep 2
for sink in null_a null_b; do
    timeout 2 parec -d "$sink.monitor" --latency-msec=20 --rate=8000 --channels=1 --format=s16le --raw \
        >"$work/$sink.raw" 2>/dev/null &
done
wait "$caller" || fail "the caller exited with $?"
wait "$callee" || fail "the callee exited with $?"
grep -qxF "accepted: Connected" "$work/a.log" || fail "the call was not accepted"

band_rms() { sox -t raw -r 8000 -c 1 -b 16 -e signed "$1" -n sinc "$2" stat 2>&1 | awk '/^RMS +amplitude/ {print $3}'; }
a440=$(band_rms "$work/null_a.raw" 390-490); a620=$(band_rms "$work/null_a.raw" 570-670)
b440=$(band_rms "$work/null_b.raw" 390-490); b620=$(band_rms "$work/null_b.raw" 570-670)
echo "default speaker null_a: 440 Hz $a440, 620 Hz $a620; headset null_b: 440 Hz $b440, 620 Hz $b620"
awk -v a="$a620" -v b="$b440" 'BEGIN { exit !(a > 0.05 && b > 0.05) }' || fail "a tone did not reach its device"
awk -v a="$a440" -v b="$b620" 'BEGIN { exit !(a < 0.03 && b < 0.03) }' || fail "a tone reached the wrong device"
echo PASS

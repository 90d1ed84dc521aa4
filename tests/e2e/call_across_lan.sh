#!/usr/bin/env bash
# Two headless peers on two hosts of a namespace LAN call each other, one codec at a time: each
# plays its own tone into the call from a WAV file and records what it hears; each recording must
# hold the other side's tone (measured with sox), not its own.
# Usage: call_across_lan.sh PATH/TO/tobrel-peer. Exit 77 = skipped (the reason is printed).
set -euo pipefail
peer=$1
. "$(dirname "$0")/lab.sh"
lab_start vx 2 sox ip

sox -D -n -r 8000 -c 1 -b 16 "$work/a.wav" synth 8 sine 440 vol 0.5
sox -D -n -r 8000 -c 1 -b 16 "$work/b.wav" synth 8 sine 1300 vol 0.5

# RMS amplitude of a recording within a frequency band, skipping the first half second.
band_rms() {
    sox "$1" -n trim 0.5 sinc "$2" stat 2>&1 | awk '/^RMS +amplitude/ {print $3}'
}

failures=0
for codec in gsm610 pcm8; do
    rm -f "$work"/*-heard.wav
    ip netns exec "${NETLAB_PREFIX}2" "$peer" --port 49217 --input "$work/b.wav" --output "$work/b-heard.wav" \
        --duration 5 >"$work/b.log" 2>&1 &
    callee=$!
    wait_for_line "$work/b.log" "listening on" || echo "the callee did not start in 20 s"
    ip netns exec "${NETLAB_PREFIX}1" "$peer" --port 49217 --call 10.99.0.2 --codec "$codec" \
        --input "$work/a.wav" --output "$work/a-heard.wav" --duration 3 >"$work/a.log" 2>&1 || true
    wait "$callee" || true

    echo "== $codec: caller"; cat "$work/a.log"
    echo "== $codec: callee"; cat "$work/b.log"
    grep -q '^accepted: Connected' "$work/a.log" || { echo "FAIL $codec: no acceptance"; failures=$((failures + 1)); continue; }
    grep -q "^called: I10.99.0.1P49217V" "$work/b.log" || { echo "FAIL $codec: the callee saw no request from 10.99.0.1"; failures=$((failures + 1)); }

    a_other=$(band_rms "$work/a-heard.wav" 1200-1400); a_own=$(band_rms "$work/a-heard.wav" 390-490)
    b_other=$(band_rms "$work/b-heard.wav" 390-490); b_own=$(band_rms "$work/b-heard.wav" 1200-1400)
    echo "$codec: caller hears 1300 Hz at $a_other (440 Hz at $a_own); callee hears 440 Hz at $b_other (1300 Hz at $b_own)"
    if ! awk -v o="$a_other" -v s="$a_own" -v p="$b_other" -v t="$b_own" \
        'BEGIN { exit !(o > 0.05 && o > 5 * s && p > 0.05 && p > 5 * t) }'; then
        echo "FAIL $codec: a side does not hear the other's tone"
        failures=$((failures + 1))
    fi
done
[[ $failures -eq 0 ]] && echo "PASS: both codecs carried both tones across the LAN"
exit $((failures > 0))

#!/usr/bin/env bash
# Two tobrel-peer processes on loopback: one calls the other in PCM-8 with WAV files for sound and
# hangs up on Ctrl-C (SIGINT); the other answers by itself and stops after its duration. Checks the
# event lines of both, the recordings (each holds the other's tone) and the exit codes. Both stay
# out of the presence exchange, whose broadcasts would leave the machine.
set -euo pipefail
peer=$1
command -v sox >/dev/null || { echo "SKIPPED: sox is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
pa=$(port); pb=$(port); qa=$(port); qb=$(port)
sox -D -n -r 8000 -c 1 -b 16 "$work/a.wav" synth 6 sine 440 vol 0.5
sox -D -n -r 8000 -c 1 -b 16 "$work/b.wav" synth 6 sine 1300 vol 0.5

"$peer" --no-presence --port "$pb" --ping-port "$qb" --input "$work/b.wav" --output "$work/b-heard.wav" --duration 4 >"$work/b.log" 2>&1 &
callee=$!
sleep 0.5
status=0
"$peer" --no-presence --port "$pa" --ping-port "$qa" --remote-port "$pb" --local-ip 127.0.0.1 --call 127.0.0.1 --codec pcm8 \
    --input "$work/a.wav" --output "$work/a-heard.wav" >"$work/a.log" 2>&1 &
caller=$!
sleep 2.5
kill -INT "$caller"
wait "$caller" || status=$?
wait "$callee" || status=$?
echo "== caller"; cat "$work/a.log"; echo "== callee"; cat "$work/b.log"
[[ $status -eq 0 ]] || { echo "FAIL: a peer exited with $status"; exit 1; }

expect() { grep -qxF "$2" "$work/$1.log" || { echo "FAIL: $1 printed no line '$2'"; exit 1; }; }
expect a "audio open: soundstart"
expect a "accepted: Connected"
expect a "hanging up"
expect a "ended: ~Connection ended.@"
expect a "ended: Connection ended."
expect b "called: I127.0.0.1P${pa}V1ZF"
expect b "ended: ~Connection ended.@"
expect b "ended: Connection ended."

band_rms() { sox "$1" -n trim 0.5 sinc "$2" stat 2>&1 | awk '/^RMS +amplitude/ {print $3}'; }
a_other=$(band_rms "$work/a-heard.wav" 1200-1400); b_other=$(band_rms "$work/b-heard.wav" 390-490)
echo "caller hears 1300 Hz at $a_other, callee hears 440 Hz at $b_other"
awk -v a="$a_other" -v b="$b_other" 'BEGIN { exit !(a > 0.05 && b > 0.05) }' || { echo "FAIL: a tone did not arrive"; exit 1; }
echo PASS

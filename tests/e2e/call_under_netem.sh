#!/usr/bin/env bash
# A call across the namespace LAN on impaired links: 5 % loss, 1 % duplicates, reordering and
# 20 ms of jitter, by tc netem on the hosts' links (where the kernel has no netem, a userspace
# relay on a third host applies the same to everything the two peers send each other). A fourth
# host sends odd-sized datagrams to both peers and floods the callee with four seconds of sound.
# Per codec (GSM 6.10, PCM-8): the call sets up (a lost request or acceptance is retried, as a
# user would); each side hears the other's tone, not its own, at the level the codec keeps
# (within 1.5 dB of sox's own round trip), after the stranger's datagrams; and the callee's delay
# at the end stays within the playback queue's bound (2 s) although the flood was longer.
# The tones (330 and 523 Hz) are ones whose GSM level a lost, late or foreign block hardly moves.
# Pure tones are the hard case for GSM's long-term predictor, which carries each block's sound into
# the next: those whose period fits its lag exactly (700, 1000, 1100, 1300 Hz) keep their level
# only on a complete stream, and under this impairment others drift by 1 to 4 dB (440 Hz -1.5,
# 660 Hz -4), as any GSM decoder fed these blocks in this order would; speech recovers at once.
# Usage: call_under_netem.sh PATH/TO/tobrel-peer. Exit 77 = skipped (the reason is printed).
set -euo pipefail
peer=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lab.sh"
lab_start vn 4 sox ip tc python3
on() { local host=$1; shift; ip netns exec "${NETLAB_PREFIX}$host" "$@"; }

impairment="tc netem"
if on 1 tc qdisc add dev eth0 root netem delay 30ms 20ms loss 5% duplicate 1% reorder 10% 50% 2>/dev/null; then
    on 2 tc qdisc add dev eth0 root netem delay 30ms 20ms loss 5% duplicate 1% reorder 10% 50%
    callee_address=10.99.0.2
    announce=()
else
    impairment="a userspace relay (this kernel has no netem)"
    callee_address=10.99.0.3
    announce=(--local-ip 10.99.0.3)
fi
echo "impairment: $impairment"

# The caller's tone stops after 5 s, which shows the callee's delay at the end.
sox -D -n -r 8000 -c 1 -b 16 "$work/a.wav" synth 5 sine 330 vol 0.5 pad 0 4
sox -D -n -r 8000 -c 1 -b 16 "$work/b.wav" synth 11 sine 523 vol 0.5
sox -D -n -r 8000 -c 1 -b 16 "$work/silence.wav" trim 0 4
sox -D "$work/silence.wav" -e gsm-full-rate "$work/silence-gsm.wav"

# The stranger: odd sizes of random bytes to both peers, then four seconds of silence in whole
# blocks of the codec to the callee, at once.
stranger() {
    on 4 python3 - "$1" "$work/silence-gsm.wav" <<'PY'
import os, random, socket, struct, sys
codec, gsm_wav = sys.argv[1], sys.argv[2]
data = open(gsm_wav, 'rb').read()
at = 12
while data[at:at + 4] != b'data':
    at += 8 + struct.unpack('<I', data[at + 4:at + 8])[0]
blocks = data[at + 8:at + 8 + struct.unpack('<I', data[at + 4:at + 8])[0]]
flood = [blocks[i:i + 65] for i in range(0, 100 * 65, 65)] if codec == 'gsm610' else [b'\x80' * 400] * 80
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
random.seed(7)
for size in (1, 37, 64, 66, 100, 149, 151, 333, 1000):
    for host in ('10.99.0.1', '10.99.0.2'):
        s.sendto(bytes(random.randrange(256) for _ in range(size)), (host, 49217))
for datagram in flood:
    s.sendto(datagram, ('10.99.0.2', 49217))
PY
}

# Levels, tone shares and the end of the caller's tone, from the recordings; prints the figures
# and exits 1 when a check fails.
analyse() {
    python3 - "$@" <<'PY'
import math, statistics, sys, wave
codec, impairment, caller_heard, callee_heard, reference_a, reference_b = sys.argv[1:7]
RATE, WINDOW = 8000, 400

def samples(path):
    with wave.open(path) as w:
        raw = w.readframes(w.getnframes())
    return [int.from_bytes(raw[i:i + 2], 'little', signed=True) for i in range(0, len(raw) - 1, 2)]

def windows(s, start, end):
    for at in range(int(start * RATE), min(len(s), int(end * RATE)) - WINDOW + 1, WINDOW):
        yield s[at:at + WINDOW]

def rms(w):
    return math.sqrt(sum(x * x for x in w) / len(w))

def share(w, frequency):
    c = 2 * math.cos(2 * math.pi * frequency / RATE)
    s1 = s2 = 0.0
    for x in w:
        s1, s2 = x + c * s1 - s2, s1
    total = sum(x * x for x in w)
    return 0.0 if total == 0 else (s1 * s1 + s2 * s2 - c * s1 * s2) / (total * len(w) / 2)

def steady(s, start, end, frequency):
    ws = list(windows(s, start, end))
    return statistics.median(rms(w) for w in ws), statistics.median(share(w, frequency) for w in ws)

failures = []
a_heard, b_heard = samples(caller_heard), samples(callee_heard)
expect_a = statistics.median(rms(w) for w in windows(samples(reference_a), 0.2, 4.8))
expect_b = statistics.median(rms(w) for w in windows(samples(reference_b), 0.2, 4.8))

# The caller hears 523 Hz from after the stranger's datagrams to its hang-up.
level, own = steady(a_heard, 3.0, 7.5, 330)
other = steady(a_heard, 3.0, 7.5, 523)[1]
caller_db = 20 * math.log10(max(level, 1e-9) / expect_b)
if not (other > 0.5 and own < 0.05 and abs(caller_db) <= 1.5):
    failures.append(f"the caller hears 523 Hz at {caller_db:.2f} dB (share {other:.2f}), 330 Hz share {own:.2f}")

# The callee hears 330 Hz until the caller's tone ends (at 5 s of the caller's time) plus its delay.
end = 0.0
for i, w in enumerate(windows(b_heard, 0, len(b_heard) / RATE)):
    if share(w, 330) > 0.5 and rms(w) > expect_a / 2:
        end = (i + 1) * WINDOW / RATE
delay = end - 5.0
level, mine = steady(b_heard, end - 1.25, end - 0.25, 330)
theirs = steady(b_heard, end - 1.25, end - 0.25, 523)[1]
callee_db = 20 * math.log10(max(level, 1e-9) / expect_a)
if not (mine > 0.5 and theirs < 0.05 and abs(callee_db) <= 1.5):
    failures.append(f"the callee hears 330 Hz at {callee_db:.2f} dB (share {mine:.2f}), 523 Hz share {theirs:.2f}")
if not 0 < delay <= 2.3:
    failures.append(f"the callee's delay at the end is {delay:.2f} s")
print(f"{codec} under {impairment}: the caller hears 523 Hz at {caller_db:+.2f} dB, the callee hears 330 Hz at "
      f"{callee_db:+.2f} dB, the callee's delay at the end {delay:.2f} s")
for failure in failures:
    print("FAIL " + codec + ": " + failure)
sys.exit(1 if failures else 0)
PY
}

# sox's round trip of each tone through the codec: the level a side should hear.
reference() {
    local codec=$1 tone=$2 out=$3
    if [[ $codec == gsm610 ]]; then
        sox -D "$tone" -e gsm-full-rate "$work/ref.wav"
    else
        sox -D "$tone" -b 8 -e unsigned-integer "$work/ref.wav"
    fi
    sox -D "$work/ref.wav" -b 16 -e signed-integer "$out"
}

failures=0
for codec in gsm610 pcm8; do
    reference "$codec" "$work/a.wav" "$work/ref-a.wav"
    reference "$codec" "$work/b.wav" "$work/ref-b.wav"
    set_up=false
    for attempt in 1 2 3; do
        rm -f "$work"/*-heard.wav
        on 2 "$peer" --port 49217 --input "$work/b.wav" --output "$work/b-heard.wav" --duration 10 >"$work/b.log" 2>&1 &
        callee=$!
        relay=
        if [[ $callee_address == 10.99.0.3 ]]; then
            on 3 python3 "$here/impairing_relay.py" 10.99.0.3 49217 10.99.0.1 10.99.0.2 10.5 >"$work/relay.log" 2>&1 &
            relay=$!
            wait_for_line "$work/relay.log" "relay: listening" || echo "the relay did not start in 20 s"
        fi
        wait_for_line "$work/b.log" "listening on" || echo "the callee did not start in 20 s"
        on 1 "$peer" --port 49217 --call "$callee_address" "${announce[@]}" --codec "$codec" --wait 2 \
            --input "$work/a.wav" --output "$work/a-heard.wav" --duration 8 >"$work/a.log" 2>&1 &
        caller=$!
        sleep 1.5
        stranger "$codec"
        wait "$caller" || true
        wait "$callee" || true
        [[ -z $relay ]] || wait "$relay" || true
        if grep -q '^accepted: Connected' "$work/a.log"; then
            set_up=true
            break
        fi
        echo "$codec: attempt $attempt did not set up (a lost request or acceptance); again"
    done
    echo "== $codec: caller"; cat "$work/a.log"
    echo "== $codec: callee"; cat "$work/b.log"
    [[ -z $relay ]] || cat "$work/relay.log"
    if ! $set_up; then
        echo "FAIL $codec: the call did not set up in three attempts"
        failures=$((failures + 1))
        continue
    fi
    analyse "$codec" "$impairment" "$work/a-heard.wav" "$work/b-heard.wav" "$work/ref-a.wav" "$work/ref-b.wav" \
        || failures=$((failures + 1))
done
[[ $failures -eq 0 ]] && echo "PASS: both codecs carried both tones at their level across the impaired LAN"
exit $((failures > 0))

#!/usr/bin/env bash
# Presence across a namespace LAN of three hosts, each peer under a host name of its own:
#  1. three peers find each other with no configuration: every list holds each address with its
#     computer name (and 127.0.0.1);
#  2. closing one makes the others drop it (its farewell "Resend" makes them re-announce);
#  3. a "Stop" broadcast by a third party (an independent presence copy in Python) ends the call
#     between the two others; their echoes die out;
#  4. a second peer on one host cannot hold the box, but its announcements still reach the others.
# Usage: presence_across_lan.sh PATH/TO/tobrel-peer. Exit 77 = skipped (the reason is printed).
set -euo pipefail
peer=$1
here=$(cd "$(dirname "$0")" && pwd)
netlab="$here/../../tools/netlab"
probe="$here/presence_probe.py"
. "$here/lab.sh" # for wait_for_line; this script makes its own lab
export NETLAB_PREFIX="vp$$"

if ! reason=$("$netlab" check); then
    echo "SKIPPED: $reason"
    exit 77
fi
for tool in sox unshare python3; do
    command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    "$netlab" down || true
    rm -rf "$work"
}
trap cleanup EXIT
"$netlab" up 3
sox -D -n -r 8000 -c 1 -b 16 "$work/tone.wav" synth 30 sine 440 vol 0.3

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# start NAME HOST_NUMBER HOSTNAME [peer options...]: runs a peer in the background, log in $work/NAME.log.
start() {
    local name=$1 host=$2 hostname=$3
    shift 3
    ip netns exec "$NETLAB_PREFIX$host" unshare --uts sh -c 'hostname "$1"; shift; exec "$@"' sh "$hostname" \
        "$peer" --input "$work/tone.wav" --output "$work/$name-heard.wav" "$@" >"$work/$name.log" 2>&1 &
    pids+=($!)
    eval "pid_$name=$!"
}

# The last complete list a peer printed, entries joined by '|'.
last_list() {
    awk '/^listed [0-9]+\/[0-9]+: / {
            split($2, at, "[/:]"); entry = substr($0, index($0, ": ") + 2)
            if (at[1] == 1) current = entry; else current = current "|" entry
            if (at[1] == at[2]) complete = current
        }
        END { print complete }' "$work/$1.log"
}

# wait_list NAME EXPECTED SECONDS
wait_list() {
    local deadline=$((SECONDS + $3))
    while [[ $SECONDS -lt $deadline ]]; do
        [[ $(last_list "$1") == "$2" ]] && return 0
        sleep 0.2
    done
    fail "$1 lists '$(last_list "$1")', not '$2'"
    return 1
}

show_logs() {
    for log in "$work"/*.log; do echo "== ${log##*/}"; cat "$log"; done
}

# 1. Three peers; peer b calls peer c once c listens.
start c 3 host-c --port 49217
wait_for_line "$work/c.log" "listening on" || fail "c did not start in 20 s"
start a 1 host-a --port 49217
start b 2 host-b --port 49217 --call 10.99.0.3 --stay # b goes on listing after its call
all="10.99.0.1 host-a|10.99.0.2 host-b|10.99.0.3 host-c|127.0.0.1"
for name in a b c; do wait_list "$name" "$all" 8 || true; done
grep -q '^accepted: Connected' "$work/b.log" || fail "the call from b to c was not accepted"

# 2. Closing a: the others drop it after its farewell.
kill -TERM "$pid_a"
wait "$pid_a" || fail "peer a exited with $?"
grep -q '^presence: Resend from host-a' "$work/b.log" || true
for name in b c; do wait_list "$name" "10.99.0.2 host-b|10.99.0.3 host-c|127.0.0.1" 8 || true; done
grep -q '^presence: Resend from host-a' "$work/c.log" || fail "c heard no farewell from a"

# 3. A "Stop" from host 1 ends the call between b and c; the echoes die out within one exchange.
ip netns exec "${NETLAB_PREFIX}1" python3 "$probe" Stop 10.99.0.255 5 >"$work/probe.log"
echo "== heard on host 1 after its Stop"; cat "$work/probe.log"
stops=$(grep -c ' Stop$' "$work/probe.log" || true)
echoes=$(grep -c -E ' host-[bc] Stop$' "$work/probe.log" || true)
late=$(awk '$3 == "Stop" && $1 > 3.0' "$work/probe.log" | wc -l)
[[ $echoes -ge 1 && $echoes -le 2 && $stops -eq $((echoes + 1)) ]] ||
    fail "expected the probe's own Stop and one echo from b and/or c, heard $stops Stop messages"
[[ $late -eq 0 ]] || fail "Stop messages still arrived after 3 s: the echo did not die out"
for name in b c; do
    grep -q '^ended: ' "$work/$name.log" || fail "$name's call did not end"
    ending=$(grep -c '^presence: ending the call' "$work/$name.log" || true)
    [[ $ending -le 1 ]] || fail "$name ended a call $ending times"
done
grep -q '^presence: Stop from ' "$work/b.log" || fail "b did not hear the Stop"

# 4. A second peer on host 2 cannot hold the box, yet both others list it.
start b2 2 host-b2 --port 49300 --ping-port 8101
wait_for_line "$work/b2.log" "presence: another program" || true
grep -q 'another program on this machine holds the box' "$work/b2.log" ||
    fail "the second peer on host 2 did not report the box as taken"
with_b2="10.99.0.2 host-b|10.99.0.2 host-b2|10.99.0.3 host-c|127.0.0.1"
for name in b c; do wait_list "$name" "$with_b2" 8 || true; done

for name in b2 b c; do
    eval "pid=\$pid_$name"
    kill -TERM "$pid"
    wait "$pid" || fail "peer $name exited with $?"
done
pids=()

show_logs
[[ $failures -eq 0 ]] && echo "PASS: presence converged, dropped a closed peer, stopped a call and reached past a taken box"
exit $((failures > 0))

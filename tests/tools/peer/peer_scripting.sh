#!/usr/bin/env bash
# tobrel-peer as scripts use it, on loopback: the exit status of each outcome, a ping between two
# copies on one machine (and none answered by the copy itself), taken ports, codecs without a
# driver, a rejecting callee, and a running callee driven through its standard input.
set -euo pipefail
peer=$1
command -v sox >/dev/null || { echo "SKIPPED: sox is not installed"; exit 77; }
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}" ${caller:-}; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT
port() { python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
sox -D -n -r 8000 -c 1 -b 16 "$work/tone.wav" synth 8 sine 440 vol 0.5
sound() { echo --input "$work/tone.wav" --output "$work/$1-heard.wav"; }
fail() { echo "FAIL: $*"; for f in "$work"/*.log; do echo "== $f"; cat "$f"; done; exit 1; }

# Every peer runs with --no-presence: its broadcasts would leave the machine.
# Runs the peer with a time limit; the exit status goes to $status, the output to $work/$1.log.
run() {
    local name=$1; shift
    status=0
    timeout 20 "$peer" --no-presence "$@" >"$work/$name.log" 2>&1 || status=$?
}
expect_status() { [[ $status -eq $2 ]] || fail "$1 exited with $status, not $2"; }
expect_line() { grep -qxF "$2" "$work/$1.log" || fail "$1 printed no line '$2'"; }
wait_line() { # log, line: waits up to 5 s for it
    for _ in $(seq 50); do grep -qxF "$2" "$work/$1.log" 2>/dev/null && return 0; sleep 0.1; done
    fail "$1 printed no line '$2' within 5 s"
}
start_callee() { # name, then options: a peer that runs until it is told to quit
    local name=$1; shift
    mkfifo "$work/$name.in"
    "$peer" --no-presence "$@" <"$work/$name.in" >"$work/$name.log" 2>&1 &
    pids+=($!)
    eval "exec {fd_$name}>\"$work/$name.in\""
    wait_line "$name" "listening on 127.0.0.1 port $2"
}
tell() { local fd="fd_$1"; echo "$2" >&"${!fd}"; }
wait_exit() { # pid, what: waits up to 5 s for the process to end; its status goes to $status
    for _ in $(seq 50); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$1" 2>/dev/null && fail "$2 did not exit by itself"
    status=0
    wait "$1" || status=$?
}

pa=$(port); qa=$(port); pb=$(port); qb=$(port); nobody=$(port)
a=(--port "$pa" --ping-port "$qa" --local-ip 127.0.0.1)

# Outcomes of a placed call and of a ping, each with its own status.
run unanswered "${a[@]}" --remote-port "$nobody" --call 127.0.0.1 --wait 1 $(sound unanswered)
expect_status unanswered 3
expect_line unanswered "no answer"
run unresolved "${a[@]}" --call no-such-host.invalid $(sound unresolved)
expect_status unresolved 5
run selfping "${a[@]}" --ping 127.0.0.1 --wait 1
expect_status selfping 6
expect_line selfping "no answer to ping"
run lh4 "${a[@]}" --call 127.0.0.1 --codec lh4
expect_status lh4 2
grep -q "no codec driver" "$work/lh4.log" || fail "lh4 gave no reason"
run help --help
grep -q "Exit status:" "$work/help.log" || fail "--help lists no exit statuses"

# A callee that answers only when told, on the same machine.
start_callee b --port "$pb" --ping-port "$qb" --local-ip 127.0.0.1 --no-answer $(sound b)
run ping "${a[@]}" --ping 127.0.0.1 --remote-ping-port "$qb" --wait 3
expect_status ping 0
expect_line ping "answer to ping from 127.0.0.1 (ping port $qb)"
run pingport --port "$pa" --ping-port "$qb" --local-ip 127.0.0.1
expect_status pingport 1
run callport --port "$pb" --ping-port "$qa" --local-ip 127.0.0.1
expect_status callport 1

"$peer" --no-presence "${a[@]}" --remote-port "$pb" --call 127.0.0.1 --codec pcm8 --text "hello there" $(sound a) \
    >"$work/a.log" 2>&1 &
caller=$!
wait_line b "called: I127.0.0.1P${pa}V1ZF"
tell b answer
wait_line a "accepted: Connected"
wait_line b "text: hello there"
tell b "text Bye now"
wait_line a "text: Bye now"
tell b "text ~sneaky"
wait_line b "error: the text may not hold the characters @ ~ ^ |"
tell b hangup
wait_exit "$caller" "the caller, ended by the callee,"
caller=
expect_status "the caller, ended by the callee," 0
expect_line a "ended: ~Connection ended.@"

# A rejecting callee.
pc=$(port); qc=$(port)
start_callee c --port "$pc" --ping-port "$qc" --local-ip 127.0.0.1 --reject $(sound c)
run rejected "${a[@]}" --remote-port "$pc" --call 127.0.0.1 --wait 5 $(sound rejected)
expect_status rejected 4
expect_line rejected "rejected: Call rejected"

tell b quit
tell c quit
for p in "${pids[@]}"; do
    wait_exit "$p" "a callee told to quit"
    expect_status "a callee told to quit" 0
done
pids=()
echo PASS

#!/usr/bin/env bash
# Fuzzes the received-message path of the presence exchange (datagram -> lines -> presence rules ->
# address list) with libFuzzer (clang, ASan + UBSan) for a bounded time, from seeds of the shapes
# that matter. Any crash, sanitizer report, broken invariant, leak or time-out fails the stage.
# PRESENCE_FUZZ_SECONDS sets the time (default 60).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$top/build-fuzz-presence
seconds=${PRESENCE_FUZZ_SECONDS:-60}

"$top/tools/fuzz" build "$top/tests/presence/fuzz" "$build"

# Seeds: records of one length byte and a datagram: announcements, the two control words, a
# message cut short, line-ending variants, a zero byte, a foreign datagram.
seeds=$build/seeds
"$top/tools/fuzz" fresh "$build"
record() {
    printf "\\$(printf '%03o' "${#1}")"
    printf '%s' "$1"
}
{
    record $'Message\r\nu\r\nOFFICE2\r\n192.168.1.5\r\n'
    record $'Message\r\nu\r\nOFFICE3\r\n192.168.1.6\r\n'
    record $'Message\r\nu\r\noffice2\r\n192.168.1.5\r\n'
} >"$seeds/announcements"
{
    record $'Message\r\nu\r\nA\r\n10.0.0.1\r\n'
    record $'Message\r\nu\r\nB\r\nResend\r\n'
    record $'Message\r\nu\r\nC\r\nStop\r\n'
} >"$seeds/control"
record $'Message\r\nu\r\n' >"$seeds/short"
record $'Message\nu\rc\r\nx\n\ry\r\r\n' >"$seeds/endings"
printf 'Message\r\nu\r\nc\r\nab\000cd\r\n' >"$seeds/zero"
printf 'Hello\r\nthere' >"$seeds/foreign"

"$top/tools/fuzz" run presence "$build" fuzz_presence "$seconds" -max_len=4096 \
    -dict="$top/tests/presence/fuzz/presence.dict"

#!/usr/bin/env bash
# Fuzzes the call component's datagram path with libFuzzer (clang, ASan + UBSan) for a bounded
# time: datagrams of any size on its voice and ping ports through real loopback UDP and its real
# handlers, mixed with dialling, hanging up, answering, microphone buffers, the no-answer time-out
# and the format dialog's answers, on the fake audio backend. Any crash, sanitizer report, leak,
# time-out, broken invariant (devices left open outside a call, a device opened in no codec's
# format) fails the stage. The target makes a network namespace of its own, so that addresses in
# fuzzed requests reach nobody: without root the stage is skipped. CALL_FUZZ_SECONDS sets the time
# (default 60).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$top/build-fuzz-call
seconds=${CALL_FUZZ_SECONDS:-60}

if [[ $(id -u) -ne 0 ]]; then
    echo "call fuzz: SKIPPED (the target needs root for a network namespace of its own)"
    exit 0
fi

"$top/tools/fuzz" build "$top/tests/call/fuzz" "$build"

# Seeds in the target's input layout (a settings byte, then steps: a tag byte and its data):
# calls answered, placed and ended, with voice of the sizes that matter and the format dialog.
"$top/tools/fuzz" fresh "$build"
python3 - "$build/seeds" <<'PY'
import sys, os
def voice(payload):  # tag 0: a datagram on the voice port, two length bytes, the bytes
    return bytes([0, len(payload) >> 8, len(payload) & 255]) + payload
def signal(text):
    return voice(text.encode().ljust(150, b'\0'))
gsm = 2 << 5
seeds = {
    'answered': bytes([gsm | 7]) + signal('I127.0.0.1P8002V2ZF@') + voice(bytes(65)) + voice(bytes(130))
        + voice(bytes(100)) + bytes([13]) + signal('~Connection ended.@'),
    'placed': bytes([gsm | 7]) + bytes([11]) + signal('^Connected@') + bytes([13, 13]) + voice(bytes(65))
        + bytes([14, 12]),
    'chosen': bytes([gsm | 16 | 7]) + signal('I127.0.0.1P8002V1ZT@') + bytes([3]) + bytes([11, 8, 12]),
    'rejected': bytes([1 << 5 | 7]) + bytes([11]) + signal('x|y@') + voice(bytes(149)) + voice(bytes(151)),
    'ping': bytes([gsm]) + bytes([10, 8]) + b'PING 123' + bytes([10, 20]) + b'PONG 8001'.ljust(20, b'\0'),
}
for name, data in seeds.items():
    with open(os.path.join(sys.argv[1], name), 'wb') as f:
        f.write(data)
PY

"$top/tools/fuzz" run call "$build" fuzz_call_datagrams "$seconds" -malloc_limit_mb=1024 -max_len=4096 \
    -dict="$top/tests/call/fuzz/call.dict"
grep -E '^stat::average_exec_per_sec' "$build/fuzz.log" || true

#!/usr/bin/env bash
# The captions of the main window, the About box and the port dialog as a real X display holds
# them (read back with xprop), against the texts the windows must carry: nothing added, nothing
# missing. Usage: window_titles.sh TITLE-PROBE. Exit 77 = skipped (the reason is printed).
set -euo pipefail
probe=$1
for tool in Xvfb xprop; do
    command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
    [[ -s $work/display ]] && break
    sleep 0.1
done
[[ -s $work/display ]] || { echo "FAIL: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"

printf '[Voxhall Settings]\nPort=%d\n' $((50000 + RANDOM % 10000)) >"$work/tobrel.dat"
QT_QPA_PLATFORM=xcb "$probe" "$work/tobrel.dat" >"$work/probe.out" 2>"$work/probe.log" &
pids+=($!)
for _ in $(seq 200); do
    grep -qx ready "$work/probe.out" 2>/dev/null && break
    sleep 0.1
done
grep -qx ready "$work/probe.out" || { echo "FAIL: the probe did not show its windows"; cat "$work/probe.log"; exit 1; }

status=0
while IFS=$'\t' read -r id caption; do
    [[ $id == ready ]] && break
    for property in _NET_WM_NAME WM_NAME; do
        held=$(xprop -id "$id" "$property")
        if [[ ${held#*) = } != "\"$caption\"" ]]; then
            echo "FAIL: window $id: $held, expected \"$caption\""
            status=1
        fi
    done
done <"$work/probe.out"
[[ $status == 0 ]] && echo "all captions as set"
exit $status

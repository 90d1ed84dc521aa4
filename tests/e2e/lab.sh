# Sourced by the end-to-end scripts: lab_start PREFIX HOSTS TOOL... makes a namespace LAN of HOSTS
# hosts named PREFIX<pid>1.. with tools/netlab and a work directory ($work), both removed on exit;
# where the lab cannot be made or a tool is missing it prints the reason and exits 77 (skipped).
lab_start() {
    local prefix=$1 hosts=$2
    shift 2
    netlab="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../../tools/netlab"
    export NETLAB_PREFIX="$prefix$$"
    local reason
    if ! reason=$("$netlab" check); then
        echo "SKIPPED: $reason"
        exit 77
    fi
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
    done
    work=$(mktemp -d)
    trap lab_stop EXIT
    "$netlab" up "$hosts"
}

lab_stop() {
    jobs -p | xargs -r kill 2>/dev/null || true
    "$netlab" down || true
    rm -rf "$work"
}

# Waits (at most 20 s) until FILE holds a line starting with TEXT: a loaded machine may take
# seconds to start a program, and a call request sent before its receiver is bound is lost.
wait_for_line() {
    local file=$1 text=$2 tries=0
    until grep -q "^$text" "$file" 2>/dev/null; do
        (( ++tries > 200 )) && return 1
        sleep 0.1
    done
}

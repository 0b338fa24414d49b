#!/bin/bash
# Replays generated capture files through a veth link as fast as the sender goes and reports,
# for `quorvex-cli monitor` and for `tcpdump -w /dev/null` on the same traffic, the replay
# rate and the packets dropped by the kernel. Needs root and tcpdump; the sender is
# bench/frame_sender when given (over a million packets a second), tcpreplay otherwise.
#
#   bash bench/capture/replay-bench.sh [path/to/quorvex-cli] [packets per file] [path/to/frame_sender]
#                                      [packets per second, frame_sender only; default: all it can]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../../scripts/lib/netns.sh"
cli="$(realpath "${1:-build/release/src/cli/quorvex-cli}")"
packets="${2:-1000000}"
sender="${3:+$(realpath "$3")}"
send_rate="${4:-0}"
# On two or more cores the sender (and with it the kernel's receive path, which runs on the
# sending CPU over veth) gets the first core, the capturing tool the second. Both run before
# other work on a shared machine, so that the rate is the link's and not the neighbours'.
send_on=(nice -n -10)
capture_on=(nice -n -10)
if [ "$(nproc)" -ge 2 ]; then
    send_on+=(taskset -c 0)
    capture_on+=(taskset -c 1)
fi
work="$(mktemp -d)"
# The monitor's rows go to memory: a few hundred megabytes written back to disk would take
# CPU time from the sender on a small machine.
rows_dir="$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)"
srv="qvx-bench-$$-srv"
cli_ns="qvx-bench-$$-cli"
a="qb$$a"
b="qb$$b"

cleanup() {
    netns_pair_down "$srv" "$cli_ns"
    rm -rf "$work" "$rows_dir"
}
trap cleanup EXIT

netns_pair_up "$srv" "$cli_ns" "$a" "$b" 10.201.0

# Waits until FILE contains TEXT (the tool has opened its capture).
wait_for() {
    for _ in $(seq 1 100); do
        grep -q "$2" "$1" 2>/dev/null && return 0
        sleep 0.05
    done
    echo "timed out waiting for '$2' in $1" >&2
    cat "$1" >&2
    return 1
}

# Replays FILE once; prints "<pps> <seconds>" as the sender measured them.
replay() {
    local out pps seconds
    if [ -n "$sender" ]; then
        out="$(ip netns exec "$cli_ns" "${send_on[@]}" "$sender" "$b" "$1" 1 "$send_rate" 2>&1)"
        pps="$(sed -n 's/^sent [0-9]* frames in [0-9.]* s: \([0-9]*\) packets\/s.*/\1/p' <<<"$out")"
        seconds="$(sed -n 's/^sent [0-9]* frames in \([0-9.]*\) s.*/\1/p' <<<"$out")"
    else
        out="$(ip netns exec "$cli_ns" "${send_on[@]}" tcpreplay -i "$b" --topspeed "$1" 2>&1)"
        pps="$(sed -n 's/.*Rated: [0-9.]* Bps, [0-9.]* Mbps, \([0-9.]*\) pps.*/\1/p' <<<"$out")"
        seconds="$(sed -n 's/.*Actual: [0-9]* packets ([0-9]* bytes) sent in \([0-9.]*\) seconds.*/\1/p' <<<"$out")"
    fi
    echo "${pps:-?} ${seconds:-?}"
}

run_monitor() {
    local log="$work/monitor.log" rows="$rows_dir/rows.txt"
    ip netns exec "$srv" "${capture_on[@]}" "$cli" monitor --adapter "$a" --json --suffix-file "$work/sufix.txt" \
        >"$rows" 2>"$log" &
    local pid=$!
    wait_for "$log" "capturing on"
    local rate
    rate="$(replay "$1")"
    # Let it work through what the kernel still holds: until the output stops growing.
    local size=-1
    while [ "$(stat -c %s "$rows")" != "$size" ]; do
        size="$(stat -c %s "$rows")"
        sleep 0.5
    done
    kill -INT "$pid"
    wait "$pid"
    local received dropped
    received="$(sed -n 's/.* \([0-9]*\) datagrams received by the filter.*/\1/p' "$log")"
    dropped="$(sed -n 's/.*, \([0-9]*\) dropped by the kernel.*/\1/p' "$log")"
    echo "$rate ${received:-?} ${dropped:-?} $(wc -l <"$rows")"
}

run_tcpdump() {
    local log="$work/tcpdump.log"
    ip netns exec "$srv" "${capture_on[@]}" tcpdump -i "$a" -w /dev/null >"$log" 2>&1 &
    local pid=$!
    wait_for "$log" "listening on"
    local rate
    rate="$(replay "$1")"
    sleep 1
    kill -INT "$pid"
    wait "$pid" || true
    local received dropped
    received="$(sed -n 's/^\([0-9]*\) packets received by filter.*/\1/p' "$log")"
    dropped="$(sed -n 's/^\([0-9]*\) packets dropped by kernel.*/\1/p' "$log")"
    echo "$rate ${received:-?} ${dropped:-?} -"
}

printf '%-7s %-26s %12s %9s %12s %12s %8s\n' file tool "replay pps" seconds "to userland" "kernel drops" rows
for kind in mix media; do
    python3 "$here/make_replay_pcap.py" "$kind" "$packets" "$work/$kind.pcap"
    for tool in monitor tcpdump; do
        read -r pps seconds received dropped rows < <(run_$tool "$work/$kind.pcap")
        label="quorvex-cli monitor"
        [ "$tool" = tcpdump ] && label="tcpdump -w /dev/null"
        printf '%-7s %-26s %12s %9s %12s %12s %8s\n' "$kind" "$label" "$pps" "$seconds" \
            "$received" "$dropped" "$rows"
    done
    rm -f "$work/$kind.pcap"
done

#!/bin/bash
# Writes a capture of real HTTP/3 traffic over QUIC and the client's key log, for timing detect
# on QUIC: a namespace pair joined by a veth link (MTU 1500), the QUIC example server
# (gtlsserver, Debian package ngtcp2-server) serving a playlist and media segments on UDP 443,
# and the QUIC example client (gtlsclient, ngtcp2-client) fetching them over CONNECTIONS
# connections, AT_ONCE of them at a time, each with its own playlist and SEGMENTS segments
# under distinct paths, so every request is one row of detect. tcpdump records UDP port 443
# on the server's end. Needs root; removes the namespaces it made.
#
#   sudo bash bench/tls/make-quic-capture.sh FILE KEYS [MEGABYTES [CONNECTIONS [AT_ONCE]]]
#
# Defaults: 1024 MB of segments over 128 connections, 2 at a time, 4 segments each. A capture
# the kernel dropped packets from is no fair input: the script then fails and keeps nothing
# (try fewer connections at once).
set -euo pipefail
if [ $# -lt 2 ]; then
    echo "usage: make-quic-capture.sh FILE KEYS [MEGABYTES [CONNECTIONS [AT_ONCE]]]" >&2
    exit 2
fi
file=$1
keys=$2
megabytes=${3:-1024}
connections=${4:-128}
at_once=${5:-2}
segments=${SEGMENTS:-4}
here="$(cd "$(dirname "$0")" && pwd)"
fixtures="$here/../../tests/support"
for tool in gtlsserver gtlsclient tcpdump ip; do
    if ! command -v "$tool" >/dev/null; then
        echo "$tool is missing; install it with" >&2
        echo "  DEBIAN_FRONTEND=noninteractive apt-get install -y ngtcp2-server ngtcp2-client tcpdump iproute2" >&2
        exit 2
    fi
done
if [ "$(id -u)" != 0 ]; then
    echo "make-quic-capture.sh needs root (network namespaces, tcpdump)" >&2
    exit 2
fi

server_ns="qvx-qbench-$$-srv"
client_ns="qvx-qbench-$$-cli"
server_if="qb$$a"
client_if="qb$$b"
server_addr=10.209.0.1
client_addr=10.209.0.2
work="$(mktemp -d)"
server_pid=""
dump_pid=""
cleanup() {
    [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
    [ -z "$dump_pid" ] || kill "$dump_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    ip netns del "$server_ns" 2>/dev/null || true
    ip netns del "$client_ns" 2>/dev/null || true
    ip link del "$server_if" 2>/dev/null || true
    rm -rf "$work"
    rm -f "$file.part" "$keys.part"
}
trap cleanup EXIT

# Waits, boundedly, until a command succeeds: the server listening, the capture started.
wait_until() {
    local tries=0
    until "$@" >/dev/null 2>&1; do
        tries=$((tries + 1))
        if [ "$tries" -ge 400 ]; then
            echo "gave up waiting for: $*" >&2
            exit 1
        fi
        sleep 0.025
    done
}

ip netns add "$server_ns"
ip netns add "$client_ns"
ip link add "$server_if" type veth peer name "$client_if"
ip link set "$server_if" netns "$server_ns"
ip link set "$client_if" netns "$client_ns"
ip -n "$server_ns" addr add "$server_addr/24" dev "$server_if"
ip -n "$client_ns" addr add "$client_addr/24" dev "$client_if"
for ns in "$server_ns" "$client_ns"; do
    ip -n "$ns" link set lo up
done
ip -n "$server_ns" link set "$server_if" mtu 1500 up
ip -n "$client_ns" link set "$client_if" mtu 1500 up

# A few distinct segment bodies, linked under every connection's own paths.
segment_bytes=$((megabytes * 1048576 / (connections * segments)))
mkdir -p "$work/www" "$work/keys"
for ((s = 1; s <= segments; s++)); do
    head -c "$segment_bytes" /dev/urandom >"$work/body-$s"
done
urls_of() {
    local c=$1
    echo "https://media.test/live/c$c/index.m3u8"
    for ((s = 1; s <= segments; s++)); do
        echo "https://media.test/live/c$c/seg-$s.m4s"
    done
}
for ((c = 1; c <= connections; c++)); do
    mkdir -p "$work/www/live/c$c"
    printf '#EXTM3U\n#EXT-X-TARGETDURATION:4\n' >"$work/www/live/c$c/index.m3u8"
    for ((s = 1; s <= segments; s++)); do
        ln "$work/body-$s" "$work/www/live/c$c/seg-$s.m4s"
    done
done

# One datagram a send: what is captured are the packets as they go on the wire, not the
# batches handed to the kernel for segmentation.
ip netns exec "$server_ns" gtlsserver -q --max-gso-dgrams=1 -d "$work/www" "$server_addr" 443 \
    "$fixtures/fixture-key.pem" "$fixtures/fixture-cert.pem" >/dev/null 2>"$work/server.log" &
server_pid=$!
# A large buffer: the capture has to keep up with the transfer without losing packets.
ip netns exec "$server_ns" tcpdump -i "$server_if" -s 0 -B 131072 -w "$file.part" \
    'udp port 443' 2>"$work/tcpdump.log" &
dump_pid=$!
wait_until grep -q 'listening on' "$work/tcpdump.log"
wait_until sh -c "ip netns exec '$server_ns' ss -Hlun 'sport = :443' | grep -q 443"

# One connection fetching its playlist and segments; its secrets in its own key file.
fetch() {
    local c=$1
    # shellcheck disable=SC2046
    SSLKEYLOGFILE="$work/keys/$c.log" ip netns exec "$client_ns" gtlsclient -q \
        --exit-on-all-streams-close "$server_addr" 443 $(urls_of "$c") >/dev/null \
        2>"$work/client-$c.log"
}
started=$(date +%s.%N)
failed=0
for ((c = 1; c <= connections; c += at_once)); do
    pids=()
    for ((k = c; k < c + at_once && k <= connections; k++)); do
        fetch "$k" &
        pids+=($!)
    done
    for pid in "${pids[@]}"; do
        wait "$pid" || failed=$((failed + 1))
    done
done
elapsed=$(awk -v s="$started" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')
kill -INT "$dump_pid"
wait "$dump_pid" || true
dump_pid=""
kill "$server_pid"
wait "$server_pid" 2>/dev/null || true
server_pid=""

dropped="$(sed -n 's/^\([0-9]*\) packets dropped by kernel$/\1/p' "$work/tcpdump.log")"
captured="$(sed -n 's/^\([0-9]*\) packets captured$/\1/p' "$work/tcpdump.log")"
if [ "$failed" -ne 0 ]; then
    echo "$failed of $connections connections failed; the first failure:" >&2
    grep -l . "$work"/client-*.log | head -1 | xargs -r cat >&2
    exit 1
fi
if [ "${dropped:-unknown}" != 0 ]; then
    echo "the kernel dropped ${dropped:-an unknown number of} packets of the capture: try fewer" \
        "connections at once" >&2
    exit 1
fi
cat "$work"/keys/*.log >"$keys.part"
chmod 600 "$keys.part"
mv "$keys.part" "$keys"
mv "$file.part" "$file"
requests=$((connections * (segments + 1)))
echo "$file: $captured packets ($(stat -c %s "$file") bytes), 0 dropped by the kernel;" \
    "$connections connections ($at_once at a time), $requests requests in ${elapsed} s"

#!/bin/sh
# Captures HTTPS requests across a namespace pair together with the client's key log.
#   https_capture.sh SERVER_NS CLIENT_NS SERVER_IF SERVER_ADDR WORK openssl|nghttpd|quic [ARG]...
# Serves WORK/www (a few media files made here) on port 443 of the server side, captures that
# port on SERVER_IF into WORK/capture.pcap, and fetches https://media.test/v/a.mp4 (and
# /v/b.m3u8) from the client side, its TLS secrets in WORK/keys.log: with curl (ARGs are its
# options), or for quic over HTTP/3 with the QUIC example client (ARGs are its options). With
# CAPTURE=none in the environment nothing is captured (a test captures itself).
set -eu
server_ns=$1 client_ns=$2 server_if=$3 address=$4 work=$5 server=$6
shift 6
here=$(cd "$(dirname "$0")" && pwd)

# Waits, boundedly, until a command succeeds: a server listening, a capture started.
wait_until() {
    tries=0
    until "$@" >/dev/null 2>&1; do
        tries=$((tries + 1))
        [ "$tries" -lt 400 ] || { echo "https_capture: gave up waiting for: $*" >&2; exit 1; }
        sleep 0.025
    done
}

mkdir -p "$work/www/v"
printf 'not really video' >"$work/www/v/a.mp4"
printf '#EXTM3U\n' >"$work/www/v/b.m3u8"

case $server in
openssl)
    (cd "$work/www" && exec ip netns exec "$server_ns" openssl s_server -quiet -WWW \
        -accept 443 -cert "$here/fixture-cert.pem" -key "$here/fixture-key.pem") \
        >"$work/server.log" 2>&1 &
    ;;
nghttpd)
    ip netns exec "$server_ns" nghttpd -d "$work/www" 443 "$here/fixture-key.pem" \
        "$here/fixture-cert.pem" >"$work/server.log" 2>&1 &
    ;;
quic)
    ip netns exec "$server_ns" gtlsserver -q -d "$work/www" "$address" 443 \
        "$here/fixture-key.pem" "$here/fixture-cert.pem" >"$work/server.log" 2>&1 &
    ;;
*) echo "https_capture: unknown server $server" >&2; exit 2 ;;
esac
server_pid=$!
dump_pid=""
if [ "${CAPTURE:-}" != none ]; then
    ip netns exec "$server_ns" tcpdump -i "$server_if" --immediate-mode -U -s 0 \
        -w "$work/capture.pcap" 'port 443' 2>"$work/tcpdump.log" &
    dump_pid=$!
fi
trap 'kill $server_pid $dump_pid 2>/dev/null || true' EXIT
[ -z "$dump_pid" ] || wait_until grep -q 'listening on' "$work/tcpdump.log"
status=0
if [ "$server" = quic ]; then
    wait_until sh -c "ip netns exec '$server_ns' ss -Hlun 'sport = :443' | grep -q 443"
    # Given an address, the QUIC client's hello names "localhost".
    SSLKEYLOGFILE="$work/keys.log" ip netns exec "$client_ns" gtlsclient -q \
        --exit-on-all-streams-close "$@" "$address" 443 \
        https://media.test/v/a.mp4 https://media.test/v/b.m3u8 >/dev/null || status=$?
else
    wait_until sh -c "ip netns exec '$server_ns' ss -Hltn 'sport = :443' | grep -q LISTEN"
    SSLKEYLOGFILE="$work/keys.log" ip netns exec "$client_ns" curl -sS -k -o /dev/null \
        -o /dev/null --resolve "media.test:443:$address" "$@" \
        https://media.test/v/a.mp4 https://media.test/v/b.m3u8 || status=$?
fi
# The capture may lag behind the wire: the exchange is whole once every connection it saw
# open has its ends in it, a FIN each way (a reset counts for one end). Waited for boundedly;
# without it the test finds the rows missing.
exchange_captured() {
    opened=$(tcpdump -r "$work/capture.pcap" 'tcp[tcpflags] & (tcp-syn|tcp-ack) == tcp-syn' \
        2>/dev/null | wc -l)
    ended=$(tcpdump -r "$work/capture.pcap" 'tcp[tcpflags] & (tcp-fin|tcp-rst) != 0' \
        2>/dev/null | wc -l)
    [ "$opened" -gt 0 ] && [ "$ended" -ge $((2 * opened)) ]
}
if [ -n "$dump_pid" ]; then
    if [ "$server" != quic ] && [ "$status" -eq 0 ]; then
        tries=0
        until exchange_captured || [ "$tries" -ge 400 ]; do
            tries=$((tries + 1))
            sleep 0.025
        done
    fi
    kill -INT "$dump_pid"
    wait "$dump_pid" || true
fi
exit $status

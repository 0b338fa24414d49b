#!/bin/bash
# Times `quorvex-cli detect --keylog` on a capture of HTTPS traffic next to the bare read loop
# over the same file and next to tshark decrypting it with the same keys, in one run: wall
# time, CPU time and peak memory of each, best of ROUNDS (peak memory: the highest), and the
# ratios with their targets. Outputs go to small files, counted as the requests found.
#
#   bash bench/tls/tls-detect-bench.sh [--quic] CLI FILE KEYS [ROUNDS]      (default: 3 rounds)
#
# FILE and KEYS come from build/release/bench/make_tls_capture, or with --quic (HTTP/3 over
# QUIC) from bench/tls/make-quic-capture.sh. The read loop is pcap_read_loop from the same
# build (READ_LOOP=path to use another). tshark comes from the Debian package tshark.
set -euo pipefail
quic=false
if [ "${1:-}" = --quic ]; then
    quic=true
    shift
fi
if [ $# -lt 3 ]; then
    echo "usage: tls-detect-bench.sh [--quic] CLI FILE KEYS [ROUNDS]" >&2
    exit 2
fi
here="$(cd "$(dirname "$0")" && pwd)"
cli="$(realpath "$1")"
file="$(realpath "$2")"
keys="$(realpath "$3")"
rounds="${4:-3}"
read_loop="${READ_LOOP:-$(dirname "$cli")/../../bench/pcap_read_loop}"
if ! command -v tshark >/dev/null; then
    echo "tshark is missing; install it with" >&2
    echo "  DEBIAN_FRONTEND=noninteractive apt-get install -y tshark" >&2
    exit 2
fi
if [ ! -x "$read_loop" ]; then
    echo "no read loop at $read_loop: build the pcap_read_loop target (or set READ_LOOP)" >&2
    exit 2
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
printf '.m4s\n.ts\n.m3u8\n.mp4\n' >"$work/sufix.txt"

# Runs one tool once; prints "wall cpu peak_kib".
measure() {
    local name=$1
    shift
    if ! python3 "$here/measured_run.py" "$work/$name.out" "$work/$name.err" "$@" \
        >"$work/$name.figures"; then
        echo "$name failed:" >&2
        cat "$work/$name.err" >&2
        exit 1
    fi
    cat "$work/$name.figures"
}

# One run of the read loop, detect or tshark; prints "wall cpu peak_kib".
run() {
    case $1 in
    read) measure read "$read_loop" "$file" ;;
    detect)
        measure detect "$cli" detect --pcap "$file" --keylog "$keys" --json \
            --suffix-file "$work/sufix.txt"
        ;;
    tshark)
        if $quic; then
            # tshark 4.0 decrypts QUIC and splits HTTP/3 into frames but decodes no header
            # fields: the requests are the client's HEADERS frames, one per request stream.
            measure tshark tshark -r "$file" -o "tls.keylog_file:$keys" \
                -Y 'udp.dstport == 443 && http3.frame_type == 1' \
                -T fields -e udp.srcport -e quic.stream.stream_id
        else
            measure tshark tshark -r "$file" -o "tls.keylog_file:$keys" -Y http2.headers.path \
                -T fields -e http2.headers.path
        fi
        ;;
    esac
}

declare -A wall cpu peak
for tool in read detect tshark; do
    wall[$tool]=1e9
    cpu[$tool]=1e9
    peak[$tool]=0
done
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a + 0 < b + 0) ? a : b }'; }
max() { awk -v a="$1" -v b="$2" 'BEGIN { print (a + 0 > b + 0) ? a : b }'; }

"$read_loop" "$file" >/dev/null  # brings the file into the page cache
for ((round = 1; round <= rounds; round++)); do
    for tool in read detect tshark; do
        read -r w c p < <(run "$tool")
        wall[$tool]="$(min "${wall[$tool]}" "$w")"
        cpu[$tool]="$(min "${cpu[$tool]}" "$c")"
        peak[$tool]="$(max "${peak[$tool]}" "$p")"
    done
done

packets="$(sed -n 's/^\([0-9]*\) packets$/\1/p' "$work/read.out")"
size_mib="$(awk -v s="$(stat -c %s "$file")" 'BEGIN { printf "%.1f", s / 1048576 }')"
echo "$file: $size_mib MiB, $packets packets; best of $rounds rounds (peak memory: the highest)"
row() {
    awk -v n="$1" -v w="$2" -v c="$3" -v p="$4" -v r="$5" \
        'BEGIN { printf "  %-34s %9.3f %9.3f %10.1f %9s\n", n, w, c, p / 1024, r }'
}
printf '  %-34s %9s %9s %10s %9s\n' tool "wall s" "CPU s" "peak MiB" requests
row "read loop (pcap_next_ex)" "${wall[read]}" "${cpu[read]}" "${peak[read]}" -
row "quorvex-cli detect --keylog" "${wall[detect]}" "${cpu[detect]}" "${peak[detect]}" \
    "$(wc -l <"$work/detect.out")"
if $quic; then
    # Client-initiated bidirectional streams, each once: a retransmitted request is one request.
    tshark_requests="$(awk '{ n = split($2, id, ","); for (i = 1; i <= n; i++)
        if (id[i] % 4 == 0) seen[$1 " " id[i]] = 1 } END { print length(seen) }' \
        "$work/tshark.out")"
    tshark_label="tshark (QUIC keys, HTTP/3 HEADERS)"
else
    tshark_requests="$(wc -l <"$work/tshark.out")"
    tshark_label="tshark (TLS keys, HTTP/2 paths)"
fi
row "$tshark_label" "${wall[tshark]}" "${cpu[tshark]}" "${peak[tshark]}" "$tshark_requests"
unread="$(grep -o '[0-9]* encrypted connections could not be read' "$work/detect.err" |
    cut -d' ' -f1 || true)"
echo "  detect: ${unread:-0} connections could not be read without keys"
awk -v rw="${wall[read]}" -v rc="${cpu[read]}" -v dw="${wall[detect]}" -v dc="${cpu[detect]}" \
    -v dp="${peak[detect]}" -v tw="${wall[tshark]}" -v tc="${cpu[tshark]}" -v tp="${peak[tshark]}" '
    function verdict(ok) { return ok ? "met" : "NOT met" }
    BEGIN {
        printf "  detect / read loop   wall %6.2fx  CPU %6.2fx   target <= 1.5x: %s\n",
            dw / rw, dc / rc, verdict(dw / rw <= 1.5 && dc / rc <= 1.5)
        printf "  tshark / detect      wall %6.1fx  CPU %6.1fx   target >= 10x: %s\n",
            tw / dw, tc / dc, verdict(tw / dw >= 10 && tc / dc >= 10)
        printf "  detect / tshark      peak memory %6.3fx          target <= 0.1x: %s\n",
            dp / tp, verdict(dp / tp <= 0.1)
    }'

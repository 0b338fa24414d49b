#!/bin/bash
# Builds the libFuzzer targets (preset "fuzz") and runs each briefly from an empty corpus
# plus the kept regression inputs in fuzz/corpus/<target>.
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS="${QUORVEX_FUZZ_RUNS:-300000}"
cmake --preset fuzz
cmake --build --preset fuzz --target fuzz_stream_decoder fuzz_suffix_list fuzz_mms_stream \
    fuzz_capture_pipe fuzz_capture_file fuzz_playlist_facts fuzz_tcp_flow fuzz_tls_record \
    fuzz_key_log fuzz_http2_frame fuzz_http_head

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for target in build/fuzz/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name="$(basename "$target")"
    mkdir -p "$work/$name"
    seeds=()
    [ -d "fuzz/corpus/$name" ] && seeds+=("fuzz/corpus/$name")
    echo "== $name ($RUNS runs)"
    "$target" -runs="$RUNS" -max_len=2100 -max_total_time=20 "$work/$name" "${seeds[@]}" 2>&1 | tail -n 3
done

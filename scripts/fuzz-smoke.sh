#!/bin/bash
# Builds the libFuzzer targets (preset "fuzz") and runs each briefly from an empty corpus
# plus the kept regression inputs in fuzz/corpus/<target>.
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS="${QUORVEX_FUZZ_RUNS:-300000}"
# Every target fuzz/CMakeLists.txt declares is built and run: none can be left out by hand.
mapfile -t targets < <(sed -n 's/^[[:space:]]*quorvex_fuzzer(\([a-z0-9_]*\)[[:space:]].*/\1/p' \
    fuzz/CMakeLists.txt)
if [ "${#targets[@]}" -eq 0 ]; then
    echo "fuzz-smoke: no quorvex_fuzzer target found in fuzz/CMakeLists.txt" >&2
    exit 1
fi
cmake --preset fuzz
cmake --build --preset fuzz --target "${targets[@]}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for name in "${targets[@]}"; do
    target="build/fuzz/fuzz/$name"
    mkdir -p "$work/$name"
    seeds=()
    [ -d "fuzz/corpus/$name" ] && seeds+=("fuzz/corpus/$name")
    echo "== $name ($RUNS runs)"
    "$target" -runs="$RUNS" -max_len=2100 -max_total_time=20 "$work/$name" "${seeds[@]}" 2>&1 | tail -n 3
done

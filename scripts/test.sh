#!/bin/bash
# Installs what is needed, builds everything warning-free and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

cmake --preset release
cmake --build --preset release
ctest --preset release --no-tests=error

# The engine again under AddressSanitizer + UndefinedBehaviorSanitizer (no GUI, no benchmarks).
if [ "${QUORVEX_SKIP_ASAN:-0}" != "1" ]; then
    cmake --preset asan -DQUORVEX_GUI=OFF
    cmake --build --preset asan
    ctest --preset asan --no-tests=error
fi

# Short libFuzzer runs of every parser of untrusted input.
if [ -x scripts/fuzz-smoke.sh ]; then
    bash scripts/fuzz-smoke.sh
fi

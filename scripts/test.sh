#!/bin/bash
# Installs what is needed, builds everything warning-free and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

# Packages are installed first; then every stage runs so that what this machine had before
# (an installed Quorvex, the user's settings) cannot help a test pass: see scripts/hermetic.sh.
if [ "${QUORVEX_IN_HERMETIC:-}" != 1 ]; then
    bash scripts/install-deps.sh
    export QUORVEX_IN_HERMETIC=1
    exec bash scripts/hermetic.sh bash "$0"
fi

# The engine stays Qt-free and the sources stay formatted; both fail before any build starts.
bash scripts/check-layers.sh

cmake --preset release
cmake --build --preset release
ctest --preset release --no-tests=error

# The engine again under AddressSanitizer + UndefinedBehaviorSanitizer (no GUI, no benchmarks).
if [ "${QUORVEX_SKIP_ASAN:-0}" != "1" ]; then
    cmake --preset asan -DQUORVEX_GUI=OFF
    cmake --build --preset asan
    ctest --preset asan --no-tests=error
fi

# The engine and the command line again under ThreadSanitizer (no GUI, no benchmarks).
if [ "${QUORVEX_SKIP_TSAN:-0}" != "1" ]; then
    cmake --preset tsan
    cmake --build --preset tsan
    ctest --preset tsan --no-tests=error
fi

# Short libFuzzer runs of every parser of untrusted input.
if [ -x scripts/fuzz-smoke.sh ]; then
    bash scripts/fuzz-smoke.sh
fi

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

# The Debian packages, built from a copy of the tree (a release build of its own), checked
# with lintian, dpkg-deb and the validators. As root they are then installed, used by a
# member of the capture group, and purged again: CI machines are fresh and thrown away, and
# the test refuses a machine where Quorvex is installed.
if [ "${QUORVEX_SKIP_PACKAGE:-0}" != "1" ]; then
    bash scripts/package.sh build/packages
    bash tests/package/check-packages.sh build/packages
    if [ "$(id -u)" -eq 0 ] && [ "${QUORVEX_SKIP_INSTALL_TEST:-0}" != "1" ]; then
        bash tests/package/install-test.sh build/packages
    fi
fi

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

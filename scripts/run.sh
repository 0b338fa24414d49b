#!/bin/bash
# Installs what is needed, builds the release binaries and starts the program.
# With a display the desktop program starts; without one, quorvex-cli prints its help.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release
cmake --build --preset release

if [ -x build/release/src/gui/quorvex ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec build/release/src/gui/quorvex "$@"
fi
exec build/release/src/cli/quorvex-cli "${@:---help}"

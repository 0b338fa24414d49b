#!/bin/bash
# Runs a command so that nothing this machine had before can help it: in a mount namespace of
# its own, with an empty /usr/local and no installed Quorvex under /usr/libexec, and with a
# fresh home, settings, cache and runtime folder. The namespace needs root; without it only the
# folders are fresh.
#   bash scripts/hermetic.sh COMMAND [ARG]...
set -euo pipefail

if [ "${QUORVEX_HERMETIC:-}" != 1 ] && [ "$(id -u)" -eq 0 ]; then
    exec unshare --mount --propagation private env QUORVEX_HERMETIC=1 bash "$0" "$@"
fi
if [ "${QUORVEX_HERMETIC:-}" = 1 ]; then
    mount -t tmpfs -o mode=0755 none /usr/local
    if [ -d /usr/libexec/quorvex ]; then
        mount -t tmpfs -o mode=0755 none /usr/libexec/quorvex
    fi
else
    echo "hermetic.sh: not root, so /usr/local stays as it is" >&2
fi

scratch="$(mktemp -d "${TMPDIR:-/tmp}/quorvex-hermetic-XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/home" "$scratch/config" "$scratch/cache" "$scratch/data" "$scratch/state" \
    "$scratch/runtime"
chmod 0755 "$scratch" "$scratch/home"
chmod 0700 "$scratch/runtime"
export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" XDG_CACHE_HOME="$scratch/cache" \
    XDG_DATA_HOME="$scratch/data" XDG_STATE_HOME="$scratch/state" XDG_RUNTIME_DIR="$scratch/runtime"
unset XDG_CONFIG_DIRS XDG_DATA_DIRS DISPLAY WAYLAND_DISPLAY SSLKEYLOGFILE
"$@"

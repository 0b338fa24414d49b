#!/bin/bash
# Starts the desktop program under Xvfb, shows the tree pane from the View menu and saves a
# picture of the main window (docs/screenshot.png by default).
# Usage: scripts/screenshot.sh [BINARY] [OUTPUT]
set -euo pipefail
cd "$(dirname "$0")/.."

binary="${1:-build/release/src/app/quorvex}"
output="${2:-docs/screenshot.png}"
[ -x "$binary" ] || { echo "screenshot.sh: $binary not built" >&2; exit 2; }
mkdir -p "$(dirname "$output")"

# A private settings folder, so the picture does not depend on an earlier run's window.
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT

HOME="$home" XDG_CONFIG_HOME="$home/.config" xvfb-run -a -s '-screen 0 900x600x24' \
    sh -c '
    "$0" & pid=$!
    for i in $(seq 1 50); do
        win=$(xdotool search --onlyvisible --name "Quorvex" 2>/dev/null | head -n1) || true
        [ -n "$win" ] && break
        sleep 0.1
    done
    [ -n "$win" ] || { kill $pid; echo "screenshot.sh: no window" >&2; exit 1; }
    xdotool windowsize "$win" 760 480
    sleep 0.5
    # View menu, its last item (the tree pane), then let the layout settle.
    xdotool windowfocus --sync "$win" key alt+v
    sleep 0.3
    xdotool key Up Return
    sleep 0.8
    import -window "$win" "$1"
    kill $pid
    wait $pid 2>/dev/null || true
' "$binary" "$output"
echo "saved $output"

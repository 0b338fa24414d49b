#!/bin/bash
# Starts the desktop program under Xvfb, shows the tree pane from the View menu and saves a
# picture of the main window (docs/screenshot.png by default).
# As root, the program runs in a network namespace of its own, joined by a veth pair to a
# second one, starts monitoring there and sees a few media requests sent across the pair, so
# the picture shows detected streams, three of them being downloaded from a slow server with
# their bars and a fourth waiting its turn. Otherwise the list stays empty.
# Usage: scripts/screenshot.sh [BINARY] [OUTPUT]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/netns.sh

binary="$(realpath "${1:-build/release/src/gui/quorvex}")"
output="$(realpath -m "${2:-docs/screenshot.png}")"
[ -x "$binary" ] || { echo "screenshot.sh: $binary not built" >&2; exit 2; }
mkdir -p "$(dirname "$output")"

# A private settings folder, so the picture does not depend on an earlier run's window.
work="$(mktemp -d)"
srv="qvshot-srv-$$"
cli="qvshot-cli-$$"
with_traffic=0
cleanup() {
    [ "$with_traffic" = 1 ] && netns_pair_down "$srv" "$cli"
    rm -rf "$work"
}
trap cleanup EXIT

run_in=()
if [ "$(id -u)" = 0 ] && command -v ip >/dev/null && command -v curl >/dev/null &&
    netns_pair_up "$srv" "$cli" "qv$$a" "qv$$b" 10.203.0 2>/dev/null; then
    with_traffic=1
    # A web server that ends by itself and sends every file slowly, so downloads stay running.
    ip netns exec "$srv" timeout 90 python3 -c '
import http.server, time
class Slow(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        size = 24 << 20
        self.send_response(200)
        self.send_header("Content-Length", str(size))
        self.end_headers()
        chunk = bytes(64 << 10)
        try:
            for _ in range(size // len(chunk)):
                self.wfile.write(chunk)
                time.sleep(0.05 + hash(self.path) % 7 / 40)
        except OSError:
            pass
    def log_message(self, *args):
        pass
http.server.ThreadingHTTPServer(("10.203.0.1", 80), Slow).serve_forever()
' >/dev/null 2>&1 &
    run_in=(ip netns exec "$srv")
else
    netns_pair_down "$srv" "$cli"  # nothing half made stays behind
fi

"${run_in[@]}" env HOME="$work" XDG_CONFIG_HOME="$work/.config" \
    xvfb-run -a -s '-screen 0 1100x600x24' sh -c '
    binary=$1 output=$2 cli=$3
    "$binary" & pid=$!
    win=""
    for i in $(seq 1 50); do
        win=$(xdotool search --onlyvisible --name "Quorvex" 2>/dev/null | head -n1) || true
        [ -n "$win" ] && break
        sleep 0.1
    done
    [ -n "$win" ] || { kill $pid; echo "screenshot.sh: no window" >&2; exit 1; }
    xdotool windowmove "$win" 0 0 windowsize "$win" 1040 480
    sleep 0.5
    # View menu, its last item (the tree pane).
    xdotool windowfocus --sync "$win" key alt+v
    sleep 0.3
    xdotool key Up Return
    sleep 0.5
    if [ -n "$cli" ]; then
        # Start monitoring (one adapter: no dialog), then browse from the other side.
        xdotool key ctrl+b
        sleep 1
        for path in /video/clip.wmv /music/song.mp3 /live/stream.asf \
            /video/%E6%97%A5%E6%9C%AC%E8%AA%9E.mp4 /clips/intro.flv; do
            ip netns exec "$cli" curl -s -m 1 -o /dev/null "http://10.203.0.1$path" || true
        done
        sleep 1
        # Download the first four rows: Enter runs the action of the row, the save dialog takes
        # the proposed name with Enter. Three run at once; the fourth waits its turn.
        xdotool key Tab Tab Home
        for row in 1 2 3 4; do
            xdotool key Return
            sleep 1
            xdotool key Return
            sleep 0.7
            xdotool key Down
        done
        sleep 4
    fi
    import -window "$win" "$output"
    kill $pid
    wait $pid 2>/dev/null || true
' sh "$binary" "$output" "$([ "$with_traffic" = 1 ] && echo "$cli" || true)"
echo "saved $output"

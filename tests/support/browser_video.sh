#!/bin/sh
# A browser started by `quorvex-cli browser` plays a video page over HTTPS (HTTP/2) across a
# namespace pair while `quorvex-cli monitor` reads the client side with the browser's key log;
# then the video's row is downloaded.
#   browser_video.sh SERVER_NS CLIENT_NS SERVER_IF CLIENT_IF SERVER_ADDR WORK CLI VIDEO FFMPEG_ARG...
# Makes WORK/www/VIDEO with ffmpeg (a test picture, encoded with FFMPEG_ARG...) and a page that
# asks for /played once the video's time moves (/error?code=N when the player fails), serves
# them with nghttpd under a certificate made here for SERVER_ADDR, and leaves WORK/monitor.json
# (the rows), WORK/server.log (the requests), WORK/download (the row's download). The key log
# WORK/keys.log is removed at the end.
set -eu
server_ns=$1 client_ns=$2 server_if=$3 client_if=$4 address=$5 work=$6 cli=$7 video=$8
shift 8
# The browser and the download go straight to the server namespace, never through a proxy.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY

# Says what failed, what the browser asked for and what it said last.
fail() {
    echo "browser_video: $*" >&2
    grep -a ':path:' "$work/server.log" >&2 2>/dev/null || true
    grep -av dbus "$work/chromium.log" 2>/dev/null | tail -n 20 >&2 || true
    exit 1
}

# Waits up to $1 seconds until the rest of the line succeeds; a bound, not an expectation.
wait_until() {
    tries=$(($1 * 20))
    shift
    until "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || fail "gave up waiting for: $*"
        sleep 0.05
    done
}

# True when the child PID has ended (gone, or a zombie waiting to be reaped).
ended() {
    state=$(sed -n 's/^State:[[:space:]]*\(.\).*/\1/p' "/proc/$1/status" 2>/dev/null)
    [ -z "$state" ] || [ "$state" = Z ]
}

# Waits for the child PID to end of itself, and for a 0 exit status.
reap() {
    wait_until 30 ended "$1"
    status=0
    wait "$1" || status=$?
    [ "$status" -eq 0 ] || fail "$2 ended with status $status"
}

# The browser is the child of `quorvex-cli browser`, in a process group of its own.
browser_child() { cat "/proc/$1/task/$1/children" 2>/dev/null || true; }

server_pid="" monitor_pid="" browser_pid=""
# On a failure: the browser first, so that `quorvex-cli browser` ends with it and reaps it.
cleanup() {
    # Unquoted: pids not started yet drop out of the list.
    # shellcheck disable=SC2046,SC2086
    kill $(browser_child "$browser_pid") $monitor_pid $server_pid 2>/dev/null || true
    tries=200
    while [ -n "$browser_pid" ] && ! ended "$browser_pid" && [ "$tries" -gt 0 ]; do
        tries=$((tries - 1))
        sleep 0.05
    done
    [ -z "$browser_pid" ] || kill "$browser_pid" 2>/dev/null || true
    wait
    rm -f "$work/keys.log"  # a secret: never left behind
}
trap cleanup EXIT

# As on an ordinary Ethernet link: TLS records span several segments. Segmentation offload stays
# on, as on the browser's own machine, where the capture sees whole writes before they are split
# (a post-quantum ClientHello is one datagram of over 2 KiB).
ip -n "$server_ns" link set "$server_if" mtu 1500
ip -n "$client_ns" link set "$client_if" mtu 1500

mkdir -p "$work/www" "$work/bin"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
    -subj "/CN=$address" -addext "subjectAltName=IP:$address" \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>"$work/openssl.log"
ffmpeg -nostdin -loglevel error -f lavfi -i testsrc=size=320x240:rate=25 -t 4 "$@" \
    "$work/www/$video"
cat >"$work/www/index.html" <<EOF
<!doctype html><title>clip</title>
<video id="v" src="$video" muted autoplay playsinline></video>
<script>
const v = document.getElementById("v");
let told = false;
v.addEventListener("timeupdate", () => {
  if (!told && v.currentTime > 0) { told = true; fetch("played"); }
});
v.addEventListener("error", () => fetch("error?code=" + v.error.code));
</script>
EOF
echo ".${video##*.}" >"$work/sufix.txt"

# Debian's launcher drops CHROMIUM_FLAGS from the environment, so the flags a headless run as
# root needs come from a launcher of this test's own, the only browser on the PATH it is given.
cat >"$work/bin/chromium" <<EOF
#!/bin/sh
PATH=/usr/sbin:/usr/bin:/sbin:/bin exec /usr/bin/chromium --headless --no-sandbox \
    --disable-gpu --no-first-run --disable-background-networking --disable-component-update \
    --disable-sync --ignore-certificate-errors --autoplay-policy=no-user-gesture-required \
    --disable-quic --no-proxy-server --mute-audio --enable-logging=stderr "\$@" \
    2>"$work/chromium.log"
EOF
chmod 755 "$work/bin/chromium"

ip netns exec "$server_ns" nghttpd -v -d "$work/www" 443 "$work/key.pem" "$work/cert.pem" \
    >"$work/server.log" 2>&1 &
server_pid=$!
wait_until 10 sh -c "ip netns exec '$server_ns' ss -Hltn 'sport = :443' | grep -q LISTEN"

ip netns exec "$client_ns" "$cli" monitor --adapter "$client_if" --keylog "$work/keys.log" \
    --suffix-file "$work/sufix.txt" --json >"$work/monitor.json" 2>"$work/monitor.err" &
monitor_pid=$!
wait_until 10 grep -q "capturing on $client_if" "$work/monitor.err"

url="https://$address/$video"
ip netns exec "$client_ns" env PATH="$work/bin" "$cli" browser --keylog "$work/keys.log" \
    "https://$address/index.html" >"$work/browser.out" 2>"$work/browser.err" &
browser_pid=$!
wait_until 60 grep -aq ':path: /played' "$work/server.log"
wait_until 20 grep -Fq "\"url\":\"$url\"" "$work/monitor.json"

# Closing the browser ends `quorvex-cli browser` as well.
chromium_pid=$(browser_child "$browser_pid")
[ -n "$chromium_pid" ] || fail "quorvex-cli browser has no browser child"
# shellcheck disable=SC2086 # one pid per word
kill -TERM $chromium_pid
reap "$browser_pid" "quorvex-cli browser"
browser_pid=""
kill -INT "$monitor_pid"
reap "$monitor_pid" "quorvex-cli monitor"
monitor_pid=""
# Nothing the browser started may outlive it.
wait_until 20 sh -c "[ -z \"\$(ip netns pids '$client_ns')\" ]"

ip netns exec "$client_ns" "$cli" download "$url" --output "$work/download" \
    --cacert "$work/cert.pem" >"$work/download.out" 2>&1 ||
    fail "download: $(cat "$work/download.out")"

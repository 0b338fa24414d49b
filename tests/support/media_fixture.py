#!/usr/bin/python3
"""Loopback HTTP server of playlists for the recording tests (standard library and ffmpeg).

Usage: media_fixture.py LIFETIME_SECONDS WORK_DIR [--tls CERT KEY]
Writes its media into WORK_DIR with the ffmpeg command (160x120 H.264 at 25 fps with an AAC
tone, 6 seconds), binds 127.0.0.1 on a free port, prints "PORT <n>" and serves until killed
or until the lifetime has passed. With --tls it speaks HTTPS with that certificate. A second
listener always speaks HTTPS with a self-signed certificate for "evil.invalid" made at start.
  /vod/index.m3u8        HLS with an end, 2-second segments
  /master.m3u8           two variants: vod/ (200 kbit/s) and hi/ (320x240, 800 kbit/s)
  /dash/manifest.mpd     DASH with an end
  /live/index.m3u8       live HLS with a sliding window of 3 one-second segments, made by
                         an ffmpeg that starts at the first request and runs for a minute
  /aes/index.m3u8        HLS with an end, its segments encrypted with AES-128 (clear key)
  /drm/index.m3u8        the VOD playlist with a SAMPLE-AES key of a DRM system
  /drm/manifest.mpd      the DASH manifest with a ContentProtection element
  /page/index.m3u8       an HTML page under a playlist's name
  /vod/playlist          the VOD playlist under a name without suffix, known only by its
                         Content-Type
Prefixes change how the rest of the path is served:
  /slow/PATH             each segment waits a second before its answer
  /failseg/PATH          the segment seg001.ts answers 500, every time
  /cutseg/PATH           the segment seg001.ts announces its length, sends half and closes
  /freeze/PATH           a playlist is served as it was at its first request, for ever
Hostile answers:
  /badscheme/S/index.m3u8  the VOD playlist whose second segment has a URL of scheme S
                         (ftp, tcp, concat, subfile, file, data) that is no web address
  /evil/index.m3u8       the VOD playlist with its segments on the "evil.invalid" listener
  /huge/index.m3u8       a VOD playlist of 64 MiB whose end marker comes last
  /grow/index.m3u8       a live playlist that grows by 1.6 MB of segments at each request
  /switch/index.m3u8     the VOD playlist at the first request, a segment's bytes after
  /xmlesc/manifest.mpd   a DASH manifest whose broken line carries terminal escapes
"""
import http.server
import os
import shutil
import ssl
import subprocess
import sys
import threading
import time

WORK = None
LIVE = {"process": None}
LIVE_LOCK = threading.Lock()
FROZEN = {}
COUNTS = {}
COUNTS_LOCK = threading.Lock()
PORTS = {}

SOURCE = ["-f", "lavfi", "-i", "testsrc=size={size}:rate=25", "-f", "lavfi", "-i",
          "sine=frequency=440:sample_rate=44100"]
CODECS = ["-c:v", "libx264", "-g", "25", "-preset", "ultrafast", "-c:a", "aac", "-b:a", "64k"]


def ffmpeg(args, size="160x120", wait=True, realtime=False):
    source = (["-re"] if realtime else []) + [a.replace("{size}", size) for a in SOURCE]
    command = ["ffmpeg", "-hide_banner", "-loglevel", "error", "-y"] + source + args
    if wait:
        subprocess.run(command, check=True, stdin=subprocess.DEVNULL)
        return None
    return subprocess.Popen(command, stdin=subprocess.DEVNULL)


def make_media():
    for name in ("vod", "hi", "dash", "live", "drm", "page", "aes"):
        os.makedirs(os.path.join(WORK, name), exist_ok=True)
    hls = ["-f", "hls", "-hls_time", "2", "-hls_playlist_type", "vod"]
    ffmpeg(["-t", "6"] + CODECS + hls + ["-hls_segment_filename",
           os.path.join(WORK, "vod/seg%03d.ts"), os.path.join(WORK, "vod/index.m3u8")])
    ffmpeg(["-t", "6"] + CODECS + hls + ["-hls_segment_filename",
           os.path.join(WORK, "hi/seg%03d.ts"), os.path.join(WORK, "hi/index.m3u8")],
           size="320x240")
    with open(os.path.join(WORK, "aes/key.bin"), "wb") as out:
        out.write(os.urandom(16))
    with open(os.path.join(WORK, "aes/keyinfo"), "w") as out:
        out.write("key.bin\n%s\n" % os.path.join(WORK, "aes/key.bin"))
    ffmpeg(["-t", "6"] + CODECS + hls + ["-hls_key_info_file", os.path.join(WORK, "aes/keyinfo"),
           "-hls_segment_filename", os.path.join(WORK, "aes/seg%03d.ts"),
           os.path.join(WORK, "aes/index.m3u8")])
    ffmpeg(["-t", "6"] + CODECS + ["-f", "dash", "-seg_duration", "2",
           os.path.join(WORK, "dash/manifest.mpd")])
    with open(os.path.join(WORK, "master.m3u8"), "w") as out:
        out.write("#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=200000,RESOLUTION=160x120\n"
                  "vod/index.m3u8\n#EXT-X-STREAM-INF:BANDWIDTH=800000,RESOLUTION=320x240\n"
                  "hi/index.m3u8\n")
    with open(os.path.join(WORK, "vod/index.m3u8")) as source:
        lines = source.read().split("\n")
    lines.insert(1, '#EXT-X-KEY:METHOD=SAMPLE-AES,URI="skd://key",'
                    'KEYFORMAT="com.apple.streamingkeydelivery",KEYFORMATVERSIONS="1"')
    with open(os.path.join(WORK, "drm/index.m3u8"), "w") as out:
        out.write("\n".join(lines).replace("seg", "../vod/seg"))
    with open(os.path.join(WORK, "dash/manifest.mpd")) as source:
        manifest = source.read()
    protection = ('<ContentProtection schemeIdUri="urn:uuid:edef8ba9-79d6-4ace-a3c8-27dcd51d21ed"/>')
    manifest = manifest.replace("<AdaptationSet ", protection + "<AdaptationSet ", 1)
    with open(os.path.join(WORK, "drm/manifest.mpd"), "w") as out:
        out.write(manifest)
    shutil.copy(os.path.join(WORK, "vod/index.m3u8"), os.path.join(WORK, "vod/playlist"))
    with open(os.path.join(WORK, "page/index.m3u8"), "w") as out:
        out.write("<!DOCTYPE html><html><body>Not here</body></html>\n")


def ensure_live():
    with LIVE_LOCK:
        if LIVE["process"] is None:
            playlist = os.path.join(WORK, "live/index.m3u8")
            LIVE["process"] = ffmpeg(["-t", "60"] + CODECS + [
                "-f", "hls", "-hls_time", "1", "-hls_list_size", "3", "-hls_flags",
                "delete_segments", "-hls_segment_filename",
                os.path.join(WORK, "live/seg%03d.ts"), playlist], wait=False, realtime=True)
            deadline = time.time() + 20
            while time.time() < deadline:
                if os.path.exists(playlist) and open(playlist).read().count("#EXTINF") >= 2:
                    break
                time.sleep(0.1)


TYPES = {".m3u8": "application/vnd.apple.mpegurl", ".mpd": "application/dash+xml",
         ".ts": "video/mp2t", ".m4s": "video/iso.segment"}


def bad_segment(scheme):
    port = PORTS["main"]
    return {
        "ftp": "ftp://127.0.0.1:9/seg001.ts",
        "tcp": "tcp://127.0.0.1:%d/vod/seg001.ts" % port,
        "concat": "concat:http://127.0.0.1:%d/vod/seg001.ts|http://127.0.0.1:%d/vod/seg002.ts"
                  % (port, port),
        "subfile": "subfile,,start,0,end,0,,:http://127.0.0.1:%d/vod/seg001.ts" % port,
        "file": "file:///etc/hostname.ts",
        "data": "data:video/mp2t;base64,R0dHRw==",
    }.get(scheme)


def vod_segments():
    with open(os.path.join(WORK, "vod/index.m3u8")) as source:
        return source.read()


def count(path):
    with COUNTS_LOCK:
        COUNTS[path] = COUNTS.get(path, 0) + 1
        return COUNTS[path]


GROW_STEP = 1600000  # bytes of segment lines added at each request: the third passes 4 MiB


def grown(times):
    lines = ["#EXTM3U", "#EXT-X-VERSION:3", "#EXT-X-TARGETDURATION:2", "#EXT-X-MEDIA-SEQUENCE:0"]
    size, index = 0, 0
    while size < GROW_STEP * times:
        entry = "#EXTINF:2.000000,\n../vod/seg000.ts?n=%d" % index
        lines.append(entry)
        size += len(entry) + 1
        index += 1
    return ("\n".join(lines) + "\n").encode()


def hostile(handler, path):
    """Answers the hostile paths; False for any other."""
    parts = path.strip("/").split("/")
    if parts[0] == "badscheme" and len(parts) == 3 and bad_segment(parts[1]):
        lines = [bad_segment(parts[1]) if line == "seg001.ts" else
                 "../../vod/" + line if line.startswith("seg") else line
                 for line in vod_segments().split("\n")]
        text = "\n".join(lines)
        handler.reply(200, text.encode(), TYPES[".m3u8"])
    elif path == "/evil/index.m3u8":
        base = "https://127.0.0.1:%d/vod/" % PORTS["evil"]
        text = vod_segments().replace("seg0", base + "seg0")
        handler.reply(200, text.encode(), TYPES[".m3u8"])
    elif path == "/huge/index.m3u8":
        handler.send_response(200)
        handler.send_header("Content-Type", TYPES[".m3u8"])
        handler.send_header("Content-Length", str(64 << 20))
        handler.end_headers()
        head = b"#EXTM3U\n#EXT-X-TARGETDURATION:2\n"
        tail = b"#EXT-X-ENDLIST\n"
        entry = b"#EXTINF:2.0,\n../vod/seg000.ts\n"
        handler.wfile.write(head)
        left = (64 << 20) - len(head) - len(tail)
        block = entry * 4096
        while left > len(block):
            handler.wfile.write(block)
            left -= len(block)
        handler.wfile.write(b"\n" * left + tail)
    elif path == "/grow/index.m3u8":
        handler.reply(200, grown(count(path)), TYPES[".m3u8"])
    elif path == "/switch/index.m3u8":
        if count(path) == 1:
            text = vod_segments().replace("seg0", "../vod/seg0")
            handler.reply(200, text.encode(), TYPES[".m3u8"])
        else:
            with open(os.path.join(WORK, "vod/seg000.ts"), "rb") as source:
                handler.reply(200, source.read(), TYPES[".ts"])
    elif path == "/xmlesc/manifest.mpd":
        body = (b'<?xml version="1.0"?>\n<MPD xmlns="urn:mpeg:dash:schema:mpd:2011" '
                b'type="static">\n<Period>\x1b[31m\x1b]0;owned\x07 <bad a=\x1b[2J></Period>\n'
                b'</MPD>\n')
        handler.reply(200, body, TYPES[".mpd"])
    else:
        return False
    return True


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, body, content_type="application/octet-stream"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = self.path.split("?", 1)[0]
        modes = set()
        for prefix in ("slow", "failseg", "cutseg", "freeze"):
            if path.startswith("/" + prefix + "/"):
                modes.add(prefix)
                path = path[len(prefix) + 1:]
        if hostile(self, path):
            return
        if path.startswith("/live/"):
            ensure_live()
        name = os.path.normpath(os.path.join(WORK, path.lstrip("/")))
        if not name.startswith(WORK + os.sep):
            return self.reply(404, b"")
        extension = os.path.splitext(name)[1]
        if os.path.basename(name) == "playlist":
            extension = ".m3u8"
        if "failseg" in modes and os.path.basename(name) == "seg001.ts":
            return self.reply(500, b"")
        if "slow" in modes and extension in (".ts", ".m4s"):
            time.sleep(1)
        if "freeze" in modes and name in FROZEN:
            return self.reply(200, FROZEN[name], TYPES.get(extension, "text/plain"))
        try:
            with open(name, "rb") as source:
                body = source.read()
        except OSError:
            return self.reply(404, b"")
        if "cutseg" in modes and os.path.basename(name) == "seg001.ts":
            self.send_response(200)
            self.send_header("Content-Type", TYPES[extension])
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(body[:len(body) // 2])
            self.close_connection = True
            return
        if "freeze" in modes and extension == ".m3u8":
            FROZEN[name] = body
        self.reply(200, body, TYPES.get(extension, "text/html"))


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # a client that stops reading mid-answer is what the abort cases do


def serve_tls(server, cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)


def evil_certificate():
    cert, key = os.path.join(WORK, "evil-cert.pem"), os.path.join(WORK, "evil-key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1", "-subj",
                    "/CN=evil.invalid", "-keyout", key, "-out", cert],
                   check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    return cert, key


def main():
    global WORK
    lifetime = int(sys.argv[1])
    WORK = os.path.realpath(sys.argv[2])
    make_media()
    server = Server(("127.0.0.1", 0), Handler)
    if len(sys.argv) >= 6 and sys.argv[3] == "--tls":
        serve_tls(server, sys.argv[4], sys.argv[5])
    evil = Server(("127.0.0.1", 0), Handler)
    serve_tls(evil, *evil_certificate())
    PORTS["main"], PORTS["evil"] = server.server_address[1], evil.server_address[1]
    for each in (server, evil):
        threading.Thread(target=each.serve_forever, daemon=True).start()
    print("PORT %d" % server.server_address[1], flush=True)
    end = time.time() + lifetime
    try:
        while time.time() < end:
            time.sleep(0.5)
    except KeyboardInterrupt:
        pass
    finally:
        if LIVE["process"] is not None:
            LIVE["process"].terminate()
            LIVE["process"].wait()
        shutil.rmtree(WORK, ignore_errors=True)


if __name__ == "__main__":
    import signal
    signal.signal(signal.SIGTERM, lambda *args: sys.exit(0))
    main()

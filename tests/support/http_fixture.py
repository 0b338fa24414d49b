#!/usr/bin/env python3
"""Loopback HTTP server for the download tests (standard library only).

Usage: http_fixture.py LIFETIME_SECONDS [--tls CERT KEY] [--log FILE]
With --tls it speaks HTTPS with the given certificate (tests/support/fixture-cert.pem is a
self-signed one for 127.0.0.1, made for these tests only). With --log every request's head
(request line and headers, exactly as received, up to its empty line) is appended to FILE
before the reply is sent.
Binds 127.0.0.1 on a free port, prints "PORT <n>" and serves until killed or until the
lifetime has passed, so that nothing outlives a crashed test.

Bodies are the repeating pattern byte(i) = i % 251 over the whole body.
  /file/NAME?size=N             200 with Content-Length
  /nolen/NAME?size=N            200 without a length, ends at close
  /chunked/NAME?size=N&length=L 200, Transfer-Encoding: chunked; with L also a
                                Content-Length: L that the chunks do not keep to
  /status/CODE                  that status, empty body
  /auth/NAME?size=N             401 (Basic realm "test") unless user:secret
  /early/NAME?size=N&after=M    announces N bytes, sends M, closes
  /slow/NAME?size=N&rate=B      B bytes per second in 100 ms steps
  /stall/NAME?size=N&after=M&hold=S   M bytes, then silence for S seconds
  /redirect/TARGET              302 to /TARGET; /redirect-file to file:///etc/hostname
  /redirect-host/HOST/TARGET    302 to http://HOST:<this port>/TARGET: another host name
                                for the same server (127.0.0.1 and localhost)
  /auth-redirect/HOST/TARGET    401 like /auth unless user:secret, then as /redirect-host
  /player/NAME?size=N           403 unless the request carries Referer
                                http://page.example/watch and a User-Agent that begins
                                with "Player/", as media servers that check them do
  /reset/NAME?size=N&after=M&range=R
                                without a Range header: 200 with ETag "v1", M bytes of N,
                                then the connection ends; with one (and If-Range "v1"):
                                R=1 206 for the rest, R=0 the whole file again (200),
                                R=bad a 206 from byte 0 whatever was asked, R=short and
                                R=long a 206 whose Content-Range names the rest but whose
                                Content-Length and body hold 10 bytes, or 5 times the rest;
                                with &hold=S the first reply then waits for the client to
                                go (a pause or a cancel), at most S seconds, before it closes
  /busy/NAME?size=N&code=C&times=K&wait=S
                                the first K requests of this URL answer C (with
                                Retry-After: S when given), then 200 as /file
  /loop                         302 to itself
  /hang?hold=S                  no answer at all for S seconds
  /garbage                      a reply that is not HTTP
  /reply?bytes=B                the percent-decoded bytes B as they are, then close: a
                                scripted reply written out in the test's case table
A request with an absolute URI is a proxy request: it needs Proxy-Authorization for
user:secret (407 otherwise) and is then served as the path of that URI.
"""
import base64
import http.server
import os
import select
import socket
import ssl
import sys
import threading
import time
import urllib.parse

PATTERN_PERIOD = 251
PATTERN = bytes(i % PATTERN_PERIOD for i in range(PATTERN_PERIOD * 4200))  # ~1 MiB
PLAYER_REFERER = "http://page.example/watch"
GOOD_LOGIN = "Basic " + base64.b64encode(b"user:secret").decode()


def pattern_chunk(offset, length):
    start = offset % PATTERN_PERIOD
    return memoryview(PATTERN)[start:start + length]


class RecordingReader:
    """Keeps every line the handler reads, so that a request's head is logged byte for byte."""

    def __init__(self, raw):
        self.raw = raw
        self.seen = bytearray()

    def readline(self, *args):
        line = self.raw.readline(*args)
        self.seen += line
        return line

    def __getattr__(self, name):
        return getattr(self.raw, name)


LOG_LOCK = threading.Lock()
COUNT_LOCK = threading.Lock()
COUNTS = {}
LOG_FILE = None


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def setup(self):
        super().setup()
        self.rfile = RecordingReader(self.rfile)

    def do_GET(self):
        head = bytes(self.rfile.seen)
        self.rfile.seen.clear()
        if LOG_FILE is not None:
            with LOG_LOCK:
                LOG_FILE.write(head)
                LOG_FILE.flush()
        target = self.path
        if target.startswith("http://"):
            if self.headers.get("Proxy-Authorization") != GOOD_LOGIN:
                self.send_empty(407, [("Proxy-Authenticate", 'Basic realm="proxy"')], b"proxy login")
                return
            target = urllib.parse.urlsplit(target)
            target = target.path + ("?" + target.query if target.query else "")
        url = urllib.parse.urlsplit(target)
        query = {k: v[0] for k, v in urllib.parse.parse_qs(url.query).items()}
        size = int(query.get("size", "10000"))
        parts = url.path.split("/")
        kind = parts[1] if len(parts) > 1 else ""
        try:
            self.dispatch(kind, parts, query, size)
        except OSError:
            pass  # the client went away, as cancel and failure tests make it do

    def dispatch(self, kind, parts, query, size):
        if kind == "file":
            self.send_body(size, size)
        elif kind == "nolen":
            self.close_connection = True
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            self.send_pattern(size)
        elif kind == "chunked":
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            if "length" in query:
                self.send_header("Content-Length", query["length"])
            self.end_headers()
            offset = 0
            while offset < size:
                n = min(7000, size - offset)
                self.wfile.write(b"%x\r\n" % n + bytes(pattern_chunk(offset, n)) + b"\r\n")
                offset += n
            self.wfile.write(b"0\r\n\r\n")
        elif kind == "status":
            self.send_empty(int(parts[2]), [], b"")
        elif kind == "auth":
            if self.headers.get("Authorization") != GOOD_LOGIN:
                self.send_empty(401, [("WWW-Authenticate", 'Basic realm="test"')], b"login needed")
            else:
                self.send_body(size, size)
        elif kind == "early":
            self.close_connection = True
            self.send_body(size, int(query.get("after", "100")))
        elif kind == "slow":
            self.send_slow(size, int(query.get("rate", "10000")))
        elif kind == "stall":
            self.close_connection = True
            self.send_body(size, int(query.get("after", "100")))
            time.sleep(float(query.get("hold", "30")))
        elif kind == "redirect":
            self.send_empty(302, [("Location", "/" + "/".join(parts[2:]) + self.query_suffix())], b"moved")
        elif kind == "redirect-host":
            self.redirect_to_host(parts)
        elif kind == "auth-redirect":
            if self.headers.get("Authorization") != GOOD_LOGIN:
                self.send_empty(401, [("WWW-Authenticate", 'Basic realm="test"')], b"login needed")
            else:
                self.redirect_to_host(parts)
        elif kind == "redirect-file":
            self.send_empty(302, [("Location", "file:///etc/hostname")], b"moved")
        elif kind == "player":
            referer = self.headers.get("Referer")
            agent = self.headers.get("User-Agent") or ""
            if referer != PLAYER_REFERER or not agent.startswith("Player/"):
                self.send_empty(403, [], b"forbidden")
            else:
                self.send_body(size, size)
        elif kind == "reset":
            self.reset_then_range(size, query)
        elif kind == "busy":
            with COUNT_LOCK:
                seen = COUNTS.get(self.path, 0)
                COUNTS[self.path] = seen + 1
            if seen < int(query.get("times", "1")):
                headers = [("Retry-After", query["wait"])] if "wait" in query else []
                self.send_empty(int(query.get("code", "503")), headers, b"busy")
            else:
                self.send_body(size, size)
        elif kind == "loop":
            self.send_empty(302, [("Location", "/loop")], b"again")
        elif kind == "hang":
            time.sleep(float(query.get("hold", "30")))
            self.close_connection = True
        elif kind == "garbage":
            self.close_connection = True
            self.wfile.write(b"this is not http\r\n\r\n")
        elif kind == "reply":
            self.close_connection = True
            raw = urllib.parse.urlsplit(self.path).query.partition("bytes=")[2]
            self.wfile.write(urllib.parse.unquote_to_bytes(raw))
            self.wfile.flush()
        else:
            self.send_empty(404, [], b"")

    def reset_then_range(self, size, query):
        asked = self.headers.get("Range")
        mode = query.get("range", "1")
        if asked is None:
            self.close_connection = True
            self.send_response(200)
            self.send_header("Content-Length", str(size))
            self.send_header("ETag", '"v1"')
            self.end_headers()
            self.send_pattern_from(0, int(query.get("after", "100")))
            if "hold" in query:
                select.select([self.connection], [], [], float(query["hold"]))
            return
        start = int(asked.split("=")[1].split("-")[0])
        if mode == "bad":
            start = 0
        elif mode not in ("1", "short", "long") or self.headers.get("If-Range") != '"v1"':
            self.send_response(200)
            self.send_header("Content-Length", str(size))
            self.send_header("ETag", '"v1"')
            self.end_headers()
            self.send_pattern_from(0, size)
            return
        sent = {"short": 10, "long": 5 * (size - start)}.get(mode, size - start)
        self.send_response(206)
        self.send_header("Content-Length", str(sent))
        self.send_header("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size))
        self.send_header("ETag", '"v1"')
        self.end_headers()
        self.send_pattern_from(start, sent)

    def send_pattern_from(self, start, length):
        offset = start
        step = len(PATTERN) - PATTERN_PERIOD
        while offset < start + length:
            n = min(step, start + length - offset)
            self.wfile.write(pattern_chunk(offset, n))
            offset += n
        self.wfile.flush()

    def redirect_to_host(self, parts):
        location = "http://%s:%d/%s%s" % (parts[2], self.server.server_address[1],
                                          "/".join(parts[3:]), self.query_suffix())
        self.send_empty(302, [("Location", location)], b"moved")

    def query_suffix(self):
        url = urllib.parse.urlsplit(self.path)
        return "?" + url.query if url.query else ""

    def send_empty(self, code, headers, body):
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def send_body(self, announced, sent):
        self.send_response(200)
        self.send_header("Content-Length", str(announced))
        self.end_headers()
        self.send_pattern(sent)

    def send_pattern(self, length):
        offset = 0
        step = len(PATTERN) - PATTERN_PERIOD
        while offset < length:
            n = min(step, length - offset)
            self.wfile.write(pattern_chunk(offset, n))
            offset += n
        self.wfile.flush()

    def send_slow(self, size, rate):
        self.send_response(200)
        self.send_header("Content-Length", str(size))
        self.end_headers()
        offset = 0
        step = max(1, rate // 10)
        while offset < size:
            n = min(step, size - offset)
            self.wfile.write(pattern_chunk(offset, n))
            self.wfile.flush()
            offset += n
            time.sleep(0.1)


class QuietServer(http.server.ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        pass


def main():
    global LOG_FILE
    args = sys.argv[1:]
    lifetime = float(args.pop(0)) if args and not args[0].startswith("--") else 60.0
    tls = None
    while args:
        option = args.pop(0)
        if option == "--tls":
            tls = (args.pop(0), args.pop(0))
        elif option == "--log":
            LOG_FILE = open(args.pop(0), "ab")
        elif option == "--ipv6":
            QuietServer.address_family = socket.AF_INET6
    server = QuietServer(("::1" if QuietServer.address_family == socket.AF_INET6 else "127.0.0.1", 0),
                         Handler)
    if tls is not None:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(*tls)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    server.daemon_threads = True
    threading.Timer(lifetime, lambda: os._exit(0)).start()
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Throughput and peak memory of recording an HLS playlist: `quorvex-cli download` next to
`ffmpeg -i URL -c copy OUT`, same playlist, one run.

Usage: record_download_bench.py [--cli PATH] [--seconds N] [--rounds N] [--dir DIR]
The playlist (N seconds of 1280x720 lossless H.264 with an AAC tone, 4-second segments, a
few hundred MB) is made with the ffmpeg command in DIR and served by a threaded HTTP server on
127.0.0.1. Both record into .mp4 in DIR; rounds alternate between the two; the report gives
the median and best of each, the throughput ratio and peak RSS. A second, shorter playlist
shows whether memory grows with the length.
"""
import argparse
import functools
import http.server
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def make_playlist(folder, seconds):
    os.makedirs(folder, exist_ok=True)
    subprocess.run(
        ["ffmpeg", "-hide_banner", "-loglevel", "error", "-y",
         "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25",
         "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000",
         "-t", str(seconds), "-c:v", "libx264", "-preset", "ultrafast", "-qp", "0", "-g", "50",
         "-c:a", "aac", "-b:a", "128k", "-f", "hls", "-hls_time", "4",
         "-hls_playlist_type", "vod", "-hls_segment_filename",
         os.path.join(folder, "seg%04d.ts"), os.path.join(folder, "index.m3u8")],
        check=True, stdin=subprocess.DEVNULL)
    return sum(os.path.getsize(os.path.join(folder, f)) for f in os.listdir(folder))


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass


def run_measured(argv):
    start = time.perf_counter()
    process = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.perf_counter() - start
    if status != 0:
        sys.exit("%s failed with status %d" % (argv[0], status))
    return elapsed, usage.ru_maxrss


def measure(label, argv_of, url, out, rounds, size, results):
    for _ in range(rounds):
        if os.path.exists(out):
            os.remove(out)
        elapsed, rss = run_measured(argv_of(url, out))
        results.setdefault(label, []).append((elapsed, rss))
        print("  %-8s %6.2f s  %7.1f MB/s  peak RSS %6.1f MB" %
              (label, elapsed, size / elapsed / 1e6, rss / 1024), flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", default=os.path.join(ROOT, "build/release/src/cli/quorvex-cli"))
    parser.add_argument("--seconds", type=int, default=180)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--dir", default=tempfile.gettempdir())
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="quorvex-record-bench-", dir=args.dir)
    try:
        sizes = {"long": make_playlist(os.path.join(work, "long"), args.seconds),
                 "short": make_playlist(os.path.join(work, "short"), max(args.seconds // 4, 8))}
        handler = functools.partial(QuietHandler, directory=work)
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        server.daemon_threads = True
        threading.Thread(target=server.serve_forever, daemon=True).start()
        port = server.server_address[1]
        ours = lambda url, out: [args.cli, "download", url, "--output", out]
        theirs = lambda url, out: ["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", url,
                                   "-c", "copy", out]
        for name in ("long", "short"):
            url = "http://127.0.0.1:%d/%s/index.m3u8" % (port, name)
            size = sizes[name]
            print("%s playlist: %.1f MB" % (name, size / 1e6), flush=True)
            results = {}
            for _ in range(args.rounds):
                measure("quorvex", ours, url, os.path.join(work, "ours.mp4"), 1, size, results)
                measure("ffmpeg", theirs, url, os.path.join(work, "theirs.mp4"), 1, size, results)
            medians = {k: statistics.median(t for t, _ in v) for k, v in results.items()}
            print("  median: quorvex %.2f s, ffmpeg %.2f s; throughput ratio %.2f; "
                  "peak RSS quorvex %.1f MB, ffmpeg %.1f MB" %
                  (medians["quorvex"], medians["ffmpeg"], medians["ffmpeg"] / medians["quorvex"],
                   max(r for _, r in results["quorvex"]) / 1024,
                   max(r for _, r in results["ffmpeg"]) / 1024), flush=True)
        server.shutdown()
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()

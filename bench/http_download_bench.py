#!/usr/bin/env python3
"""Throughput and peak memory of `quorvex-cli download` next to `curl -o`, same file, one run.

Usage: http_download_bench.py [--cli PATH] [--size BYTES] [--rounds N] [--dir DIR]
The file comes from the test suite's loopback fixture server (tests/support/http_fixture.py)
on 127.0.0.1; both clients write into DIR (default: the system temp folder). The rounds
alternate between the two clients; the report gives the median and best of each.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run_measured(argv, env):
    start = time.perf_counter()
    process = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    elapsed = time.perf_counter() - start
    if status != 0:
        sys.exit("%s failed with status %d" % (argv[0], status))
    return elapsed, usage.ru_maxrss, usage.ru_utime + usage.ru_stime  # RSS in KiB


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", default=os.path.join(ROOT, "build/release/src/cli/quorvex-cli"))
    parser.add_argument("--size", type=int, default=1 << 30)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--dir", default=tempfile.gettempdir())
    args = parser.parse_args()

    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
    server = subprocess.Popen(
        [sys.executable, os.path.join(ROOT, "tests/support/http_fixture.py"), "3600"],
        stdout=subprocess.PIPE, text=True)
    port = int(server.stdout.readline().split()[1])
    url = "http://127.0.0.1:%d/file/bench.bin?size=%d" % (port, args.size)
    work = tempfile.mkdtemp(dir=args.dir, prefix="quorvex-bench-")
    target = os.path.join(work, "out.bin")
    clients = {
        "curl -o": ["curl", "-s", "-o", target, url],
        "quorvex-cli download": [args.cli, "download", url, "--output", target],
        "quorvex-cli download --progress": [args.cli, "download", url, "--output", target,
                                            "--progress"],
    }
    results = {name: [] for name in clients}
    try:
        for _ in range(args.rounds):
            for name, argv in clients.items():
                elapsed, rss, cpu = run_measured(argv, env)
                if os.path.getsize(target) != args.size:
                    sys.exit("%s wrote %d bytes" % (name, os.path.getsize(target)))
                os.remove(target)
                results[name].append((elapsed, rss, cpu))
    finally:
        server.terminate()
        server.wait()
        os.rmdir(work)

    mib = args.size / (1 << 20)
    curl_median = statistics.median(mib / t for t, _, _ in results["curl -o"])
    print("%d MiB from 127.0.0.1, %d rounds" % (mib, args.rounds))
    for name, runs in results.items():
        rates = [mib / t for t, _, _ in runs]
        median = statistics.median(rates)
        cpu = statistics.median(c for _, _, c in runs)
        print("%-32s median %7.1f MiB/s  best %7.1f MiB/s  CPU %5.2f s  peak RSS %6.1f MiB"
              "  (%.2fx curl)" % (name, median, max(rates), cpu, max(r for _, r, _ in runs) / 1024,
                                  median / curl_median))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Runs a command and prints its wall time, CPU time (user + system) in seconds and its peak
resident memory in KiB, from wait4 of that one process.

    measured_run.py OUT ERR COMMAND [ARG]...

The command's standard output goes to OUT and its standard error to ERR; the exit status is
the command's."""
import os
import sys
import time


def main():
    if len(sys.argv) < 4:
        sys.exit("usage: measured_run.py OUT ERR COMMAND [ARG]...")
    out, err, command = sys.argv[1], sys.argv[2], sys.argv[3:]
    start = time.monotonic()
    child = os.fork()
    if child == 0:
        try:
            os.dup2(os.open(out, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), 1)
            os.dup2(os.open(err, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), 2)
            os.execvp(command[0], command)
        finally:
            os._exit(127)
    _, status, usage = os.wait4(child, 0)
    wall = time.monotonic() - start
    print(f"{wall:.3f} {usage.ru_utime + usage.ru_stime:.3f} {usage.ru_maxrss}")
    sys.exit(os.waitstatus_to_exitcode(status))


if __name__ == "__main__":
    main()

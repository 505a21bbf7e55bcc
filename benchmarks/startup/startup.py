#!/usr/bin/env python3
"""Start-up time of a program that listens on 127.0.0.1:PORT (run by benchmarks/startup/run.sh).

Each start: milliseconds from starting the program until its port accepts a connection (polled every
1 ms); the program is then ended with SIGTERM. Prints each start and the median. wrk only loads a
server that is already up, so this is its own small client.
Usage: startup.py PROGRAM STARTS [PORT]
"""
import socket
import statistics
import subprocess
import sys
import time

LIMIT_S = 30


def accepts(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        return True
    except OSError:
        return False


def time_one_start(program, port):
    """Milliseconds until the port accepted; None when the program ended or took over 30 s."""
    start = time.monotonic()
    process = subprocess.Popen([program], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = None
    while time.monotonic() - start < LIMIT_S and process.poll() is None:
        if accepts(port):
            elapsed = (time.monotonic() - start) * 1000
            break
        time.sleep(0.001)
    process.terminate()
    process.wait()
    return elapsed


def main():
    program, starts = sys.argv[1], int(sys.argv[2])
    port = int(sys.argv[3]) if len(sys.argv) > 3 else 12380
    times = []
    for i in range(starts):
        ms = time_one_start(program, port)
        print("start %d: %s" % (i + 1, "%.1f ms" % ms if ms is not None else "did not come up"))
        if ms is None:
            return 1
        times.append(ms)
        time.sleep(0.2)  # let the port and the old process's resources go
    print("startup median %.1f ms (min %.1f, max %.1f) over %d starts"
          % (statistics.median(times), min(times), max(times), len(times)))
    return 0


if __name__ == "__main__":
    sys.exit(main())

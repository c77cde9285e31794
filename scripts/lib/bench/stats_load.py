#!/usr/bin/env python3
"""Latency of reports while the dashboard refreshes its figures in a loop.

  stats_load.py --server BIN --db DB_OR_URL --work DIR [--seconds N] [--name NAME]

Starts BIN (report-server) on loopback with an admin address, then runs wrk
(64 connections, keep-alive) for N seconds twice: once alone, once while
one client asks the admin address for /api/stats again as soon as each
answer arrives. Prints one Markdown table row per run: reports/s, p50, p99
and the slowest report, and the refreshes done with their mean time.
Everything listens on 127.0.0.1; each run is bounded by N seconds plus the
refresh in flight.
"""
import argparse
import os
import sys
import threading
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from bench_server import start_server, wrk  # noqa: E402  the server benchmark's load and server

PORT, ADMIN = 18495, 18496


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--server", required=True)
    ap.add_argument("--db", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--seconds", type=int, default=30)
    ap.add_argument("--name", default="")
    a = ap.parse_args()
    proc = start_server(os.path.dirname(a.server), a.work, PORT, a.db, "bench",
                        ["--admin-listen", f"127.0.0.1:{ADMIN}"])
    try:
        for refreshing in (False, True):
            stop = threading.Event()
            refreshes = []

            def refresh():
                while not stop.is_set():
                    start = time.monotonic()
                    with urllib.request.urlopen(f"http://127.0.0.1:{ADMIN}/api/stats", timeout=600) as r:
                        r.read()
                    refreshes.append(time.monotonic() - start)

            loop = threading.Thread(target=refresh)
            if refreshing:
                loop.start()
            w = wrk(PORT, a.seconds, keep_alive=True, wait=120)  # a report may wait out a refresh
            stop.set()
            if refreshing:
                loop.join()
            done = f"{len(refreshes)}, {sum(refreshes) / len(refreshes):.1f} s each" if refreshes else "none"
            print(f"| {a.name} | {'refreshing' if refreshing else 'alone'} | {w['rps']:,.0f} | {w['lat']['50']:.1f} | "
                  f"{w['lat']['99']:.1f} | {w['slowest']:,.0f} | {done} |{' ' + w['sock'] if w['sock'] else ''}",
                  flush=True)
    finally:
        proc.terminate()
        proc.wait(timeout=120)


if __name__ == "__main__":
    main()

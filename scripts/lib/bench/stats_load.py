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
import re
import subprocess
import threading
import time
import urllib.request

PORT, ADMIN = 18495, 18496
CLIENTS = 64
TARGET = "/?Key=Setup&Data=DownFinish=OK:12.5%20DownCode=4,14,5,6,&TimeID=20240501083000&softId=vrx"


def ms(value, unit):
    return float(value) * {"us": 0.001, "ms": 1, "s": 1000}[unit]


def wrk(seconds):
    out = subprocess.run(["wrk", "-t2", f"-c{CLIENTS}", f"-d{seconds}s", "--latency", "--timeout", "120s",
                          f"http://127.0.0.1:{PORT}{TARGET}"], capture_output=True, text=True,
                         timeout=seconds + 180).stdout
    lat = {p: ms(*re.search(rf"^\s+{p}%\s+([\d.]+)(us|ms|s)\s*$", out, re.M).groups()) for p in ("50", "99")}
    slowest = ms(*re.search(r"^\s+Latency\s+\S+\s+\S+\s+([\d.]+)(us|ms|s)", out, re.M).groups())
    rps = float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1))
    errors = re.search(r"Socket errors: (.*)", out)
    return rps, lat, slowest, errors.group(1) if errors else ""


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--server", required=True)
    ap.add_argument("--db", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--seconds", type=int, default=30)
    ap.add_argument("--name", default="")
    a = ap.parse_args()
    os.makedirs(os.path.join(a.work, "files"), exist_ok=True)
    reply = os.path.join(a.work, "reply.txt")
    open(reply, "w").close()
    proc = subprocess.Popen([a.server, "--listen", f"127.0.0.1:{PORT}", "--admin-listen", f"127.0.0.1:{ADMIN}",
                             "--db", a.db, "--reply", reply, "--files", os.path.join(a.work, "files"),
                             "--spool", os.path.join(a.work, "bench.spool")],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, text=True)
    try:
        if "listening" not in proc.stdout.readline():
            raise SystemExit("stats_load: report-server did not start")
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
            rps, lat, slowest, errors = wrk(a.seconds)
            stop.set()
            if refreshing:
                loop.join()
            done = f"{len(refreshes)}, {sum(refreshes) / len(refreshes):.1f} s each" if refreshes else "none"
            print(f"| {a.name} | {'refreshing' if refreshing else 'alone'} | {rps:,.0f} | {lat['50']:.1f} | "
                  f"{lat['99']:.1f} | {slowest:,.0f} | {done} |{' ' + errors if errors else ''}", flush=True)
    finally:
        proc.terminate()
        proc.wait(timeout=120)


if __name__ == "__main__":
    main()

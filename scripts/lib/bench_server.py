#!/usr/bin/env python3
"""Runs wrk against nginx (empty 204) and report-server (SQLite, PostgreSQL)
on loopback and prints the figures as a Markdown section. Called by
scripts/bench-server."""
import argparse
import datetime
import os
import re
import socket
import subprocess
import time

NGINX_PORT, SQLITE_PORT, PG_PORT = 18490, 18491, 18492
CLIENTS = 64
TARGET = "/?Key=Setup&Data=DownFinish=OK:12.5%20DownCode=4,14,5,6,&TimeID=20240501083000&softId=vrx"

NGINX_CONF = """
worker_processes 1;
pid {dir}/nginx.pid;
error_log {dir}/error.log;
daemon off;
events {{ worker_connections 1024; }}
http {{
  access_log {dir}/access.log;
  client_body_temp_path {dir}/tmp;
  proxy_temp_path {dir}/tmp;
  fastcgi_temp_path {dir}/tmp;
  uwsgi_temp_path {dir}/tmp;
  scgi_temp_path {dir}/tmp;
  keepalive_requests 1000000;
  server {{
    listen 127.0.0.1:{port} backlog=1024;
    location / {{ return 204; }}
  }}
}}
"""


def wait_port(port, seconds=15):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)
    raise SystemExit(f"bench-server: nothing listens on {port}")


def wrk(port, seconds, keep_alive):
    args = ["wrk", "-t2", f"-c{CLIENTS}", f"-d{seconds}s", "--latency", "--timeout", "10s"]
    if not keep_alive:
        args += ["-H", "Connection: close"]
    out = subprocess.run(args + [f"http://127.0.0.1:{port}{TARGET}"], capture_output=True,
                         text=True, timeout=seconds + 60).stdout
    rps = float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1))
    total = int(re.search(r"(\d+) requests in", out).group(1))
    errors = re.search(r"Non-2xx or 3xx responses: (\d+)", out)
    sock_errors = re.search(r"Socket errors: (.*)", out)
    lat = {}
    for p in ("50", "90", "99"):
        m = re.search(rf"^\s+{p}%\s+([\d.]+)(us|ms|s)\s*$", out, re.M)
        value = float(m.group(1)) * {"us": 0.001, "ms": 1, "s": 1000}[m.group(2)]
        lat[p] = value
    return {"rps": rps, "total": total, "lat": lat, "non2xx": int(errors.group(1)) if errors else 0,
            "sock": sock_errors.group(1) if sock_errors else ""}


def rows(bin_dir, db):
    out = subprocess.run([os.path.join(bin_dir, "report-server"), "events", "--db", db],
                         capture_output=True, text=True, check=True, timeout=300).stdout
    return out.count("\n")


def start_server(bin_dir, work, port, db, name):
    files = os.path.join(work, "files")
    os.makedirs(files, exist_ok=True)
    reply = os.path.join(work, "reply.txt")
    open(reply, "w").close()
    proc = subprocess.Popen([os.path.join(bin_dir, "report-server"), "--listen",
                             f"127.0.0.1:{port}", "--db", db, "--reply", reply, "--files", files,
                             "--spool", os.path.join(work, f"{name}.spool")],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            stdin=subprocess.DEVNULL, text=True)
    if "listening" not in proc.stdout.readline():
        raise SystemExit("bench-server: report-server did not start")
    return proc


def stop(proc):
    proc.terminate()
    try:
        proc.wait(timeout=15)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--pg", required=True)
    ap.add_argument("--seconds", type=int, default=10)
    a = ap.parse_args()

    ng_dir = os.path.join(a.work, "nginx")
    os.makedirs(os.path.join(ng_dir, "tmp"), exist_ok=True)
    os.chmod(os.path.join(ng_dir, "tmp"), 0o777)
    conf = os.path.join(ng_dir, "nginx.conf")
    with open(conf, "w") as f:
        f.write(NGINX_CONF.format(dir=ng_dir, port=NGINX_PORT))
    nginx = subprocess.Popen(["/usr/sbin/nginx", "-c", conf, "-p", ng_dir, "-e",
                              os.path.join(ng_dir, "error.log")], stdin=subprocess.DEVNULL)
    sqlite_db = os.path.join(a.work, "bench.db")
    servers = [start_server(a.bin, a.work, SQLITE_PORT, sqlite_db, "sqlite"),
               start_server(a.bin, a.work, PG_PORT, a.pg, "pg")]
    for port in (NGINX_PORT, SQLITE_PORT, PG_PORT):
        wait_port(port)

    results = {}
    try:
        for keep_alive in (True, False):
            # Interleaved, so a change in the machine's load hits all three alike.
            for name, port in (("nginx", NGINX_PORT), ("sqlite", SQLITE_PORT), ("pg", PG_PORT)):
                before = rows(a.bin, sqlite_db if name == "sqlite" else a.pg) if name != "nginx" else 0
                r = wrk(port, a.seconds, keep_alive)
                time.sleep(1)  # answers still in flight when wrk stopped
                if name != "nginx":
                    r["rows"] = rows(a.bin, sqlite_db if name == "sqlite" else a.pg) - before
                results[(name, keep_alive)] = r
                print(f"bench-server: {name} keep-alive={keep_alive}: {r['rps']:.0f}/s", flush=True,
                      file=__import__("sys").stderr)
    finally:
        for s in servers:
            stop(s)
        stop(nginx)

    load = open("/proc/loadavg").read().split()[0]
    now = datetime.datetime.utcnow().strftime("%Y-%m-%d %H:%M UTC")
    print("## Report server under load\n")
    print(f"Generated by `scripts/bench-server` on {now}: wrk, {CLIENTS} connections, 2 threads, "
          f"{a.seconds} s per run, one report URL, everything on loopback on the same "
          f"{os.cpu_count()}-CPU machine (load average {load} at the end). nginx answers the same "
          "requests with an empty 204 and writes its access log. \"Recorded\" counts the rows the "
          "run added to the store against the answers wrk counted (answers still in flight when "
          "wrk stops are recorded but not counted, so recorded can exceed answered).\n")
    print("| Server | Keep-alive | Reports/s | p50 ms | p90 ms | p99 ms | Ratio to nginx | Answered | Recorded |")
    print("|---|---|---|---|---|---|---|---|---|")
    names = {"nginx": "nginx, empty 204", "sqlite": "report-server, SQLite",
             "pg": "report-server, PostgreSQL"}
    verdicts = []
    for keep_alive in (True, False):
        base = results[("nginx", keep_alive)]["rps"]
        for name in ("nginx", "sqlite", "pg"):
            r = results[(name, keep_alive)]
            ratio = r["rps"] / base if base else 0
            rec = str(r.get("rows", "–"))
            l = r["lat"]
            print(f"| {names[name]} | {'yes' if keep_alive else 'no'} | {r['rps']:,.0f} | "
                  f"{l['50']:.2f} | {l['90']:.2f} | {l['99']:.2f} | "
                  f"{'–' if name == 'nginx' else f'{ratio:.2f}'} | {r['total']:,} | {rec} |")
            if name == "sqlite":
                ok = ratio >= 0.5 and r["rows"] >= r["total"] and r["non2xx"] == 0
                verdicts.append(f"SQLite, keep-alive {'on' if keep_alive else 'off'}: ratio "
                                f"{ratio:.2f} (goal ≥ 0.50), {r['rows']:,} rows for "
                                f"{r['total']:,} answers: {'met' if ok else 'NOT met'}.")
    print()
    for v in verdicts:
        print(f"- {v}")


if __name__ == "__main__":
    main()

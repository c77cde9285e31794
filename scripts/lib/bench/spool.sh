#!/usr/bin/env bash
# Replay of a large spool: report-server starts on PostgreSQL with a spool of
# N waiting requests (default 100,000 and 1,000,000) and writes it to the
# database in bounded chunks. Prints, per size: the time from the start to an
# empty spool (read from /metrics), the rows then in the database, and the
# server's peak resident memory (ru_maxrss from wait4, the figure
# /usr/bin/time -v prints), beside that of the same server started on an
# empty spool.
#
#   scripts/bench spool [BUILD_DIR] [--rows N]...   (BUILD_DIR default: build-bench)
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
cd "$root"
build=build-bench
sizes=()
while [ $# -gt 0 ]; do
  case $1 in
    --rows) sizes+=("$2"); shift ;;
    *) build=$1 ;;
  esac
  shift
done
[ ${#sizes[@]} -gt 0 ] || sizes=(0 100000 1000000)

scripts/setup
mkdir -p "$build"
build=$(cd "$build" && pwd)
source scripts/lib/bench/report_server.sh
bench_report_server "$build" spool
mkdir -p "$work/files"
printf 'SetupName==s' >"$work/reply.txt"

python3 - "$build/host/bin/report-server" "$work" "$PG_URL" "${sizes[@]}" <<'PY'
import os, re, socket, struct, subprocess, sys, time, urllib.request, zlib

server, work, url, sizes = sys.argv[1], sys.argv[2], sys.argv[3], [int(n) for n in sys.argv[4:]]

def record(i):
    event = f"{0xbe0c:016x}{i:016x}".encode()
    target = (f"/?Key=Setup&Data=DownFinish=OK:12.5%20DownCode=4,14,%20SavePath=C:%5CUsers%5Cu%20url=a.b/c.exe"
              f"&TimeID=20240501083000&softId=7&PcId=AB--{i:08d}&SoftVer=1.0&Channel=c1&OS=Win10&OSBit=64").encode()
    payload = b"".join(struct.pack("<I", len(s)) + s for s in
                       (event, b"2024-05-01T08:30:00.000Z", b"127.0.0.1", b"GET", target))
    return struct.pack("<II", len(payload), zlib.crc32(payload)) + payload

def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]

def psql(sql):
    return subprocess.run(["psql", "-qAt", url, "-c", sql], capture_output=True, text=True, check=True).stdout.strip()

print("| spooled requests | spool file (MiB) | replay (s) | requests/s | rows in the database | peak RSS (MiB) |")
print("|---:|---:|---:|---:|---:|---:|")
for n in sizes:
    spool = os.path.join(work, "spool")
    with open(spool, "wb") as f:
        f.write(b"RSSPOOL\0" + struct.pack("<IIQ", 1, 0, 24))
        for i in range(n):
            f.write(record(i))
    size = os.path.getsize(spool) / 2**20
    psql("DROP TABLE IF EXISTS requests, schema_version")
    admin = free_port()
    start = time.monotonic()
    proc = subprocess.Popen([server, "--listen", f"127.0.0.1:{free_port()}",
                             "--admin-listen", f"127.0.0.1:{admin}", "--db", url, "--spool", spool,
                             "--reply", os.path.join(work, "reply.txt"), "--files", os.path.join(work, "files")],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    replay = None
    while time.monotonic() - start < 1800 and replay is None:
        try:
            metrics = urllib.request.urlopen(f"http://127.0.0.1:{admin}/metrics", timeout=5).read().decode()
            if re.search(r"^report_server_spool_rows 0$", metrics, re.M):
                replay = time.monotonic() - start
        except OSError:
            pass
        time.sleep(0.05)
    proc.terminate()
    rss = os.wait4(proc.pid, 0)[2].ru_maxrss / 1024
    rows = psql("SELECT count(*) FROM requests")
    rate = f"{n / replay:,.0f}" if n and replay else "-"
    replay = replay or float("nan")
    print(f"| {n:,} | {size:,.1f} | {replay:.2f} | {rate} | {int(rows):,} | {rss:.1f} |")
PY

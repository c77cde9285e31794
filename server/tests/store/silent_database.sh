#!/usr/bin/env bash
# A database host that goes silent: PostgreSQL keeps running, but every packet
# to and from its port is dropped, as when a host or a network path dies.
# Every report must still be answered within 2 s of its arrival (the batch
# goes to the spool), the outage is said once on stderr, /healthz says 503,
# and once the packets flow again every answered report reaches the database.
#
# Runs in a network namespace of its own (so the drop rule and the fixed
# ports touch nothing else), with a PostgreSQL cluster listening on TCP there.
# Needs root to make the namespace; exits 77 (skipped) without it.
# Usage: silent_database.sh REPORT_SERVER SOURCE_DIR
set -euo pipefail
server=$1 src=$2

if [ -z "${SILENT_DB_INSIDE:-}" ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "silent_database: skipped: making a network namespace needs root (the full suite runs as root)"
    exit 77
  fi
  command -v nft >/dev/null || { echo "silent_database: nft is missing: run scripts/setup"; exit 1; }
  exec unshare --net env SILENT_DB_INSIDE=1 bash "$0" "$@"
fi

ip link set lo up
work=$(mktemp -d)
chmod 755 "$work"  # PostgreSQL runs as nobody beneath it
source "$src/scripts/lib/pg.sh"
server_pid=
cleanup() {
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
  [ -z "$server_pid" ] || wait "$server_pid" 2>/dev/null || true
  pg_stop "$work" || true
  rm -rf "$work"
}
trap cleanup EXIT

PG_TCP_PORT=5432 pg_start "$work"
mkdir -p "$work/files"
printf 'SetupName==s' >"$work/reply.txt"
url="postgresql://postgres@127.0.0.1:5432/postgres"
"$server" --listen 127.0.0.1:8080 --admin-listen 127.0.0.1:8081 --db "$url" --spool "$work/spool" \
  --reply "$work/reply.txt" --files "$work/files" >"$work/server.out" 2>"$work/server.err" &
server_pid=$!

python3 - "$server" "$url" "$work/server.err" <<'EOF'
import http.client, json, subprocess, sys, threading, time

server, url, errors = sys.argv[1:4]

def get(port, path, timeout=10):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    conn.request("GET", path)
    res = conn.getresponse()
    return res.status, res.read().decode()

for _ in range(100):  # the server starts
    try:
        get(8081, "/healthz")
        break
    except OSError:
        time.sleep(0.1)

def nft(*rule):
    subprocess.run(["nft", *rule], check=True)

answers, lock = [], threading.Lock()
stop = time.monotonic() + 14

def client(name):
    conn = http.client.HTTPConnection("127.0.0.1", 8080, timeout=20)
    for i in range(1000):
        if time.monotonic() > stop:
            break
        data = f"{name}-{i}"
        start = time.monotonic()
        try:
            conn.request("GET", f"/?Key=Setup&Data={data}&TimeID=20240501083000")
            res = conn.getresponse()
            res.read()
            status = res.status
        except (OSError, http.client.HTTPException):
            status = 0
            conn.close()
        with lock:
            answers.append((data, status, time.monotonic() - start))
        time.sleep(0.03)

threads = [threading.Thread(target=client, args=(f"c{t}",)) for t in range(6)]
for t in threads:
    t.start()
time.sleep(2)
nft("add", "table", "inet", "silent")
nft("add", "chain", "inet", "silent", "out", "{ type filter hook output priority 0; }")
nft("add", "rule", "inet", "silent", "out", "tcp", "dport", "5432", "drop")
nft("add", "rule", "inet", "silent", "out", "tcp", "sport", "5432", "drop")
silent_from = len(answers)
time.sleep(4)
health = get(8081, "/healthz")
time.sleep(4)
nft("delete", "table", "inet", "silent")
silent_until = len(answers)
for t in threads:
    t.join()

failures = []
slow = [(d, round(s, 2)) for d, st, s in answers if s > 2.0]
if slow:
    failures.append(f"{len(slow)} reports answered after more than 2 s: {slow[:5]}")
bad = [(d, st) for d, st, s in answers if st != 200]
if bad:
    failures.append(f"{len(bad)} reports not answered 200: {bad[:5]}")
if silent_until - silent_from < 50:
    failures.append(f"only {silent_until - silent_from} reports during the silence")
if health[0] != 503 or not health[1].startswith("database unreachable, spooling"):
    failures.append(f"/healthz while silent: {health}")

sent = {d for d, st, s in answers if st == 200}
stored = set()
for _ in range(120):  # the spool is written back in the background
    out = subprocess.run([server, "events", "--db", url], capture_output=True, text=True, timeout=60)
    stored = {json.loads(line)["Data"] for line in out.stdout.splitlines()}
    if sent <= stored:
        break
    time.sleep(0.5)
if not sent <= stored:
    failures.append(f"{len(sent - stored)} answered reports missing from the database")
if len(stored) != len(sent):
    failures.append(f"{len(stored)} rows for {len(sent)} answered reports")
said = open(errors).read()
if said.count("warning: database unreachable") != 1:
    failures.append(f"the outage is not said exactly once:\n{said}")
print(f"silent_database: {len(answers)} reports, {silent_until - silent_from} while the database was silent, "
      f"slowest {max(s for d, st, s in answers):.2f} s, {len(stored)} rows stored; the server said:\n{said}")
for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
EOF

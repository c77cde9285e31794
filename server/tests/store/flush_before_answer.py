#!/usr/bin/env python3
"""flush_before_answer.py REPORT_SERVER [SERVER OPTIONS...]: a 200 means the row is on disk. The server runs
under strace while reports arrive one at a time, and no answer may leave while a write to the store's files
(the database, its journal, the spool) waits for its flush. A SQLite --db is made here unless the options name
one; @SPOOL@ in them becomes a spool file made here."""
import contextlib
import http.client
import os
import re
import select
import signal
import subprocess
import sys
import tempfile

REPORTS = 20
# strace -f -y: "PID name(fd<path>, ...", completed on the line or later as "PID <... name resumed>".
CALL = re.compile(r"^(\d+) +(?:<\.\.\. (\w+) resumed>|(\w+)\((\d+)<([^>]*)>)(.*)$")


def main():
    server, extra = sys.argv[1], sys.argv[2:]
    work = tempfile.mkdtemp(prefix="flush-test-")
    reply, log = os.path.join(work, "reply.txt"), os.path.join(work, "strace.log")
    open(reply, "w").write("DownUrl==http://127.0.0.1/x.exe")
    stored = ["store.db", "store.spool"]  # the database (and its -wal) and the spool: what must be flushed
    args = ["--listen", "127.0.0.1:0", "--reply", reply, "--files", work]
    args += [] if "--db" in extra else ["--db", os.path.join(work, stored[0])]
    extra = [a.replace("@SPOOL@", os.path.join(work, stored[1])) for a in extra]
    proc = subprocess.Popen(["strace", "-f", "-qq", "-y", "-s", "16", "-o", log, "-e",
                             "trace=write,pwrite64,writev,pwritev,fsync,fdatasync,sendto,sendmsg", server, *args,
                             *extra], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True,
                            start_new_session=True)
    try:
        if not select.select([proc.stdout], [], [], 60)[0]:
            return fail("the server wrote nothing within 60 s")
        line = proc.stdout.readline()
        port = re.search(r":(\d+)$", line.strip())
        if not port:
            return fail(f"the server did not start: {line!r}")
        conn = http.client.HTTPConnection("127.0.0.1", int(port.group(1)), timeout=30)
        for i in range(REPORTS):  # one at a time: every write before an answer belongs to answered rows
            conn.request("GET", f"/?Key=Setup&Data=flush-{i}&TimeID=20240501083000")
            res = conn.getresponse()
            res.read()
            if res.status != 200:
                return fail(f"report {i} answered {res.status}")
        conn.close()
    finally:  # the server and strace together; nothing of them outlives the check, not even a server that
        os.killpg(proc.pid, signal.SIGTERM)  # ignores the signal and would hold its caller's pipe
        try:
            proc.wait(timeout=30)
        finally:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(proc.pid, signal.SIGKILL)
    return check(open(log, encoding="utf-8", errors="replace").read().splitlines(), stored)


def check(lines, stored):
    dirty, answers, flushes, pending = None, 0, 0, set()  # pending: the pids whose flush of ours has begun
    for m in filter(None, map(CALL.match, lines)):
        pid, resumed, name, _, path, rest = m.groups()
        ours = pid in pending if resumed else any(os.path.basename(path).startswith(s) for s in stored)
        if (resumed or name) in ("fsync", "fdatasync") and ours:  # a flush counts once it has returned
            if "<unfinished" in rest:
                pending.add(pid)
            else:
                pending.discard(pid)
                dirty, flushes = None, flushes + 1
        elif name in ("write", "pwrite64", "writev", "pwritev") and ours:
            dirty = dirty or m.group(0)
        elif not resumed and "HTTP/1.1 200" in rest and ("TCP" in path or "socket" in path):
            answers += 1
            if dirty:
                return fail(f"an answer left before this write was flushed:\n  {dirty}\n  {m.group(0)}")
    if answers < REPORTS or flushes < REPORTS:
        return fail(f"saw {answers} answers and {flushes} flushes for {REPORTS} reports: strace saw too little")
    print(f"flush-before-answer: {answers} answers, each after the flush of every write before it ({flushes} flushes)")
    return 0


def fail(message):
    print("flush-before-answer:", message)
    return 1


if __name__ == "__main__":
    sys.exit(main())

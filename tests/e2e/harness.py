"""The Wine machine (Env), report-server (Server), two of them behind nginx on PostgreSQL (Cluster) and the
checks the scenarios share; scripts/lib/bench*.py use them too."""
import contextlib
import json
import os
import pathlib
import re
import select
import shutil
import socket
import sqlite3
import subprocess
import tempfile
import time
import sys
import uuid

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "lib"))
import publisher  # noqa: E402  the build's test publisher, its root trusted in the prefix, shared with scripts/demo
import tls  # noqa: E402  certificates and the prefix's trust in them, shared with scripts/demo

PORT, ADMIN_PORT = 18471, 18472
BASE = f"http://127.0.0.1:{PORT}/"
FALLBACK_PATH = "rmgb/4.2.2/wlpq1(wlpqhd).exe"   # the built-in download's path
FALLBACK_NAME = "wlpq1(wlpqhd).exe"
APP_DIR = "app"                                   # the stub runs from C:\app\
WINDOW = "Korvel安装"                             # the download window (the reply's NameTitle)
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

class Failure(Exception):
    pass

def check(cond, msg):
    if not cond:
        raise Failure(msg)

def check_eq(actual, expected, what):
    check(actual == expected, f"{what}:\n  expected {expected!r}\n  actual   {actual!r}")

class Env:
    """The Wine prefix of $WINEPREFIX on the display of $DISPLAY."""

    def __init__(self, build):
        self.build, self.certs, self.trusts_publisher = build, None, False
        self.host_bin = os.path.join(build, "host", "bin")
        # The Windows build this machine runs (scripts/lib/wine.sh): the 32-bit product, or x86-64.
        self.win_bin = os.environ.get("STUB_WIN_BIN") or os.path.join(build, "windows", "bin")
        self.drive_c, self.d_link = (os.path.join(os.environ["WINEPREFIX"], p) for p in ("drive_c", "dosdevices/d:"))
        self.shots = os.path.join(build, "e2e-shots")
        os.makedirs(self.shots, exist_ok=True)
        self.sample, self.sample_error = (os.path.join(self.win_bin, f"sample-installer{v}.exe")
                                          for v in ("", "-error"))
        self.sample_md5 = self.tool("md5", self.sample).decode().strip()
        # What Wine's programs and the servers said, one file per lane: a failure prints its scenario's part.
        logs = os.path.join(build, "e2e-logs")
        os.makedirs(logs, exist_ok=True)
        self.log = open(os.path.join(logs, f"lane{os.environ.get('E2E_LANE', '0')}.log"), "ab", buffering=0)

    def mark(self, name):  # a scenario starts: returns where its part of the log begins
        self.log.write(f"=== {name}\n".encode())
        return self.log.tell()

    def said(self, since, lines=80):  # the log's last lines since `since`
        with open(self.log.name, "rb") as f:
            f.seek(since)
            text = f.read().decode("utf-8", "replace").splitlines()
        return "\n".join(text[-lines:])

    def certificates(self):  # the lane's TLS certificates folder, made (its root trusted) on first use
        self.certs = self.certs or tls.trust(self.build, "e2e-tls-" + os.environ.get("E2E_LANE", "0"))
        return self.certs

    def signed(self, kind):
        """The sample installer as the build signed it (signed, other, impostor, tampered); on first use the test
        publisher's root becomes trusted in the prefix, as stub-pinned.exe's publisher is on a real machine."""
        if not self.trusts_publisher:
            publisher.trust(self.build, self.publisher_record, os.path.join(self.build, "test-publisher"))
            self.trusts_publisher = True
        return os.path.join(self.win_bin, f"sample-installer-{kind}.exe")

    publisher_record = "e2e-publisher-" + os.environ.get("E2E_LANE", "0")

    def tool(self, *args, stdin=None):
        return subprocess.run([os.path.join(self.host_bin, "stubtool"), *args], input=stdin,
                              capture_output=True, check=True).stdout

    def path(self, windows_path):  # C:\\Temp\\x.exe -> its host path
        drive = self.drive_c if windows_path[0] in "cC" else self.d_link
        return os.path.join(drive, windows_path[3:].replace("\\", "/"))

    def files_under(self, windows_folder):
        root = self.path(windows_folder)
        return sorted(os.listdir(root)) if os.path.isdir(root) else []

    def close(self):
        self.certs and tls.forget(self.build, os.path.basename(self.certs))
        self.trusts_publisher and publisher.forget(self.build, self.publisher_record)
    def encode(self, plain): return self.tool("encode", stdin=plain.encode()).decode()
    def exists(self, windows_path): return os.path.exists(self.path(windows_path))

    def put(self, windows_path, data=b""):
        os.makedirs(os.path.dirname(self.path(windows_path)), exist_ok=True)
        pathlib.Path(self.path(windows_path)).write_bytes(data)

    def reset(self):
        """A clean machine: no program still running, no C:\\Temp, program folder or D: drive."""
        subprocess.run(["wineserver", "-k"], timeout=30, **QUIET)
        subprocess.run(["wineserver", "-w"], timeout=60, **QUIET)
        for folder in ("Temp", APP_DIR):
            shutil.rmtree(os.path.join(self.drive_c, folder), ignore_errors=True)
        if os.path.islink(self.d_link):
            os.unlink(self.d_link)
        subprocess.run(["wineserver", "-p"], timeout=30, **QUIET)
        # The first program of a session must not hand a pipe to Wine's helpers.
        subprocess.run(["wine", "cmd", "/c", "exit"], timeout=120, **QUIET)

    def snapshot(self):
        """Every file on C: (outside Wine's own folders) and D:, as Windows paths."""
        found = set()
        for drive, root in [("C:", self.drive_c)] + [("D:", os.path.realpath(self.d_link))] * \
                os.path.islink(self.d_link):
            for dirpath, dirnames, filenames in os.walk(root):
                if dirpath == root:
                    dirnames[:] = [n for n in dirnames if n.lower() not in
                                   ("windows", "users", "programdata", "program files", "program files (x86)")]
                rel = os.path.relpath(dirpath, root).replace("/", "\\")
                found.update(drive + "\\" + ("" if rel == "." else rel + "\\") + n for n in filenames + dirnames)
        return found

    def helper(self, *args):  # (exit code, output)
        out = subprocess.run(["wine", os.path.join(self.win_bin, "e2e-helper.exe"), *args], stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=self.log, text=True, timeout=60)
        return out.returncode, out.stdout.strip()

    def hold(self, *args):  # e2e-helper.exe in the background (hold, lock, grab); a lock prints "held"
        out = subprocess.PIPE if args[0] == "lock" else subprocess.DEVNULL
        return subprocess.Popen(["wine", os.path.join(self.win_bin, "e2e-helper.exe"), *args],
                                stdin=subprocess.DEVNULL, stdout=out, stderr=self.log)

    def screenshot(self, name):
        path = os.path.join(self.shots, name + ".png")
        subprocess.run(["import", "-window", "root", "-display", os.environ["DISPLAY"], path], timeout=30, **QUIET)
        return path

    def pixel(self, shot, x, y):  # (r, g, b)
        out = subprocess.run(["convert", shot, "-crop", f"1x1+{x}+{y}", "-depth", "8", "txt:-"],
                             capture_output=True, text=True, check=True).stdout
        return tuple(int(v) for v in re.search(r"\((\d+),(\d+),(\d+)", out.splitlines()[-1]).groups())

    def install_copy(self, name="setup.exe", build="stub.exe", folder=f"C:\\{APP_DIR}\\"):  # returns its host path
        exe = os.path.join(self.path(folder), name)
        os.makedirs(os.path.dirname(exe), exist_ok=True)
        shutil.copyfile(os.path.join(self.win_bin, build), exe)
        return exe

    def start_stub(self, name="setup.exe", copy=True, **where):  # a fresh copy of a build, or the one there
        exe = self.install_copy(name, **where) if copy else os.path.join(self.drive_c, APP_DIR, name)
        return subprocess.Popen(["wine", exe], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=self.log)

def first_line(proc, seconds, what):  # waited for at most `seconds`
    ready, _, _ = select.select([proc.stdout], [], [], seconds)
    check(ready, f"{what} wrote nothing within {seconds} s")
    return proc.stdout.readline()

def wait_port(port, proc=None, seconds=15):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and (proc is None or proc.poll() is None):
        try:
            return socket.create_connection(("127.0.0.1", port), timeout=1).close()
        except OSError:
            time.sleep(0.05)
    raise Failure(f"nothing listens on port {port}")

def stop(proc):
    if proc is not None and proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()

NGINX_CONF = """worker_processes 1; pid {dir}/nginx.pid; error_log {dir}/error.log; daemon off;
events {{ worker_connections 1024; }}
http {{ log_format upstream '$upstream_addr $status'; access_log {dir}/access.log upstream;
  client_body_temp_path {dir}/tmp/body; proxy_temp_path {dir}/tmp/proxy;
  fastcgi_temp_path {dir}/tmp/fastcgi; uwsgi_temp_path {dir}/tmp/uwsgi; scgi_temp_path {dir}/tmp/scgi;
  keepalive_requests 1000000; {upstream}
  server {{ listen 127.0.0.1:{port} backlog=1024; location / {{ {location} }} }} }}
"""
# No retry on the other server: it would record a request twice.
PROXY = ('proxy_pass http://servers; proxy_http_version 1.1; proxy_set_header Connection ""; '
         'proxy_buffering off; proxy_next_upstream off; proxy_read_timeout 300s;')

def start_nginx(folder, port, backends=()):
    """nginx on `port`: a proxy over the `backends` ports, or an empty 204 for every request."""
    os.makedirs(os.path.join(folder, "tmp"), exist_ok=True)
    os.chmod(os.path.join(folder, "tmp"), 0o777)
    upstream = "upstream servers { %s keepalive 32; }" % " ".join(f"server 127.0.0.1:{p};" for p in backends)
    with open(os.path.join(folder, "nginx.conf"), "w") as f:
        f.write(NGINX_CONF.format(dir=folder, port=port, upstream=upstream if backends else "",
                                  location=PROXY if backends else "return 204;"))
    proc = subprocess.Popen(["/usr/sbin/nginx", "-c", os.path.join(folder, "nginx.conf"), "-p", folder,
                             "-e", os.path.join(folder, "error.log")], **QUIET)
    wait_port(port, proc)
    return proc

def pg_database():
    """A fresh database on the scratch cluster of scripts/lib/pg.sh, as a --db address."""
    check(os.environ.get("PG_SOCKET"), "no PostgreSQL cluster (PG_SOCKET): run through scripts/e2e")
    name, host = "e2e_" + uuid.uuid4().hex[:12], os.environ["PG_SOCKET"]
    subprocess.run(["/usr/lib/postgresql/15/bin/createdb", "-h", host, "-U", "postgres", name], check=True,
                   stdin=subprocess.DEVNULL)
    return f"postgresql:///{name}?host={host}&user=postgres"

def pg(command, build):  # pg_stop or pg_resume on the scratch cluster
    subprocess.run(["bash", "-c", f'source "{ROOT}/scripts/lib/pg.sh" && {command} "$1"', "pg", build],
                   check=True, stdin=subprocess.DEVNULL)

class Server:
    """report-server on `port` with its own db, reply (or TOML `rules`), files (rel -> bytes or a host path),
    https:// with `tls` (a kind of tls.KINDS), the dashboard on ADMIN_PORT with `admin`; with `faults` (options
    that play a faulty server) the test build report-server-faults instead."""

    def __init__(self, env, reply="", files=None, options=(), installer=True, port=PORT, tls=None,
                 rules=None, admin=False, db=None, workdir=None, faults=()):
        self.env, self.port, self.tls, self.procs = env, port, tls, []
        self.seen = (None, [])  # the newest row's id when the events were last read, and those events
        self.dir = tempfile.mkdtemp(prefix="e2e-server-", dir=workdir)
        self.db = db or os.path.join(self.dir, "events.db")
        self.reply, self.rules, self.files = (os.path.join(self.dir, n) for n in ("reply.txt", "rules.toml", "files"))
        for path, text in ((self.reply, reply), (self.rules, rules or "")):
            pathlib.Path(path).write_text(text, encoding="utf-8")
        for rel, data in (({FALLBACK_PATH: env.sample} if installer else {}) | dict(files or {})).items():
            self.put_file(rel, data)
        os.makedirs(self.files, exist_ok=True)
        self.source = ["--rules", self.rules] if rules is not None else ["--reply", self.reply]
        self.options = [*options, *(["--admin-listen", f"127.0.0.1:{ADMIN_PORT}"] if admin else []), *faults]
        self.program = "report-server-faults" if faults else "report-server"

    def start(self, port, *extra):
        certs = self.tls and os.path.join(self.env.certificates(), self.tls)
        https = ["--tls-cert", certs + ".pem", "--tls-key", certs + ".key"] if self.tls else []
        log = open(os.path.join(self.dir, f"stderr-{port}-{len(self.procs)}.log"), "wb")
        proc = subprocess.Popen([os.path.join(self.env.host_bin, self.program), "--listen", f"127.0.0.1:{port}",
                                 "--db", self.db, *self.source, "--files", self.files, *https, *self.options, *extra],
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=log, text=True)
        log.close()
        self.procs.append(proc)
        line = first_line(proc, 30, f"{self.program} on port {port}")
        check("listening" in line, f"{self.program} did not start on {port}: {line!r}")
        return proc

    def __enter__(self):
        try:
            self.proc = self.start(self.port)
        except Failure as e:
            self.__exit__(type(e), e, None)
            raise
        return self

    def __exit__(self, *exc):
        for proc in reversed(self.procs):
            stop(proc)
        if exc and exc[0] is not None:  # what the servers said goes to the lane's log, which the failure shows
            for name in sorted(n for n in os.listdir(self.dir) if n.startswith("stderr-")):
                self.env.log.write(f"--- {self.program} {name}\n".encode() + pathlib.Path(self.dir, name).read_bytes())
        shutil.rmtree(self.dir, ignore_errors=True)

    def put_file(self, rel, data):
        """Places a served file as a publisher's copy does: a new file renamed over the old one."""
        path = os.path.join(self.files, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if isinstance(data, str):  # a host file: linked, copied where it cannot be
            try:
                os.link(data, path + ".new")
            except OSError:
                shutil.copyfile(data, path + ".new")
        else:
            pathlib.Path(path + ".new").write_bytes(data)
        os.replace(path + ".new", path)

    def events(self, what="events", *args):  # the recorded requests, or with "stats" the figures
        last = self.last_id() if what == "events" and not args else None
        if last is not None and last == self.seen[0]:  # unchanged since the last look: no new process
            return self.seen[1]
        out = subprocess.run([os.path.join(self.env.host_bin, "report-server"), what, "--db", self.db, *args],
                             capture_output=True, text=True, check=True, timeout=60).stdout
        rows = [json.loads(line) for line in out.splitlines() if line.strip()]
        if last is not None:
            self.seen = (last, rows)
        return rows

    def last_id(self):  # the newest row's id, read from a SQLite store (None: PostgreSQL, or no table yet)
        if self.db.startswith("postgres") or not os.path.exists(self.db):
            return None
        try:
            with contextlib.closing(sqlite3.connect(f"file:{self.db}?mode=ro", uri=True, timeout=5)) as db:
                return db.execute("SELECT coalesce(max(id), 0) FROM requests").fetchone()[0]
        except sqlite3.Error:
            return None

    def data(self, events=None):  # the Data of every report (of `events`), in order (the Info request as "Info")
        return ["Info" if e["Key"] == "Info" else e["Data"] for e in
                (self.events() if events is None else events) if e.get("Key") is not None]

    def file_requests(self, events=None):
        return [e["target"] for e in (self.events() if events is None else events) if e.get("Key") is None]

class Cluster(Server):
    """Two report-servers on one PostgreSQL database (db=pg_database()) behind nginx on PORT."""

    def start(self, port, *extra):
        os.chmod(self.dir, 0o755)
        for backend in (18481, 18482):
            super().start(backend, "--spool", os.path.join(self.dir, f"spool{backend}"))
        self.procs.append(start_nginx(os.path.join(self.dir, "nginx"), port, (18481, 18482)))


def sample_reply(env, md5=None, url=None):  # the sample installer at the built-in path
    return (f"DownUrl=={url or BASE + FALLBACK_PATH}<#>FileMD5=={md5 or env.sample_md5}<#>"
            f"NameTitle=={WINDOW}<#>NISITitle==Korvel<#>NISIVer==3.1.1")

def raw_reply(data):  # faults that make the server send these bytes as its reply
    path = os.path.join(tempfile.mkdtemp(prefix="e2e-raw-"), "reply.txt")
    pathlib.Path(path).write_bytes(data)
    return ["--info-raw", path]

def wait_exit(proc, timeout):  # returns the exit code; kills the program on time-out
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        stop(proc)
        raise Failure(f"the program did not end within {timeout} s")

def poll(cond, seconds):  # whether cond() came to hold within `seconds`
    end = time.monotonic() + seconds
    while not cond():
        if time.monotonic() > end:
            return False
        time.sleep(0.1)
    return True

def wait_for(server, predicate, timeout, what):  # polls the reports until `predicate` holds
    if not poll(lambda: predicate(server.data()), timeout):  # the reports are read again only on a failure
        raise Failure(f"timed out after {timeout} s waiting for {what}; the reports: {server.data()!r}")

def stays_running(proc, seconds, what):
    """A check that takes time: `proc` must still run `seconds` from now (it fails the moment it ends)."""
    check(not poll(lambda: proc.poll() is not None, seconds), f"{what}: it ended (exit code {proc.returncode})")

def run_to_end(env, server, timeout=60, **start):
    check_eq(wait_exit(env.start_stub(**start), timeout), 0, "exit code")
    return server.data()

FULL = ["Info", "one", "frmLoad", "BeginDown", "DownFinish=OK"]  # the reports of a run that installs

def installs(env, events=FULL, reply=None, then=lambda data: None, **server):
    """Runs the stub to its end against Server(**server): it reported `events`, passed then(reports), installed."""
    with Server(env, sample_reply(env) if reply is None else reply, **server) as s:
        data = run_to_end(env, s)
    check_eq(short(data), events, "reports")
    then(data)
    return data, True

def run_to_failure(env, server, **start):
    """Starts the stub and returns it once it waits for the user after its second failure."""
    proc = env.start_stub(**start)
    wait_for(server, lambda d: sum(x.startswith("DownFinish=Not:") for x in d) >= 2, 90,
             "the second failed download")
    # Past the one-second wait, the error text and the button, the program waits for the user.
    stays_running(proc, 2.5, "waits for the user after the second failure")
    return proc

def run_to_failure_and_close(env, server, **start):  # then ends it with Alt+F4
    proc = run_to_failure(env, server, **start)
    check_eq(env.helper("close", WINDOW)[0], 0, "Alt+F4 reaches the window")
    check_eq(wait_exit(proc, 20), 0, "exit code after Alt+F4")
    return server.data()

FAILED = [*FULL[:4], "DownFinish=Not", "AutoReDown", "BeginDown", "DownFinish=Not"]  # both downloads failed

def failing(env, events=FAILED, reply=None, build="stub.exe", **server):
    """Runs `build` against Server(**server) until Alt+F4 ends its wait after two failures: it reported `events`."""
    with Server(env, sample_reply(env) if reply is None else reply, **server) as s:
        data = run_to_failure_and_close(env, s, build=build)
    check_eq(short(data), events, "reports")
    return data, False

def short(data):  # reports as the checks and the fault table show them: the event (and signature verdict), no values
    return [d.split(":")[0] + (" Sign=" + d.rsplit(" Sign=", 1)[1] if " Sign=" in d else "")
            if d.startswith("DownFinish=") else
            "GetNetIsnull='…'" if d.startswith("GetNetIsnull='") and len(d) > 20 else d for d in data]

def profile_query(event):  # the profile part of a request as the stub must have built it
    return "".join(f"&{k}={event[k]}" for k in
                   ["softId", "PcId_C", "SoftVer", "Channel", "PcId", "Scr", "OS", "OSBit", "DPI", "OSLanguage"])

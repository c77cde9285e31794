#!/usr/bin/env python3
"""The server as an operator runs it: `notify REPORT_SERVER` checks the systemd notifications (READY=1 once
both listeners answer, RELOADING=1 and READY=1 around a SIGHUP, STOPPING=1 on SIGTERM); `package CPACK
CPACK_CONFIG CMAKE BUILD_DIR` checks the .deb's files, modes, dependencies and unit, serves one request and
prunes its row with the unpacked server, and checks `cmake --install` under a prefix. Every wait is bounded;
loopback only."""
import datetime, json, os, re, shutil, signal, socket, stat, subprocess, sys, tempfile, urllib.request

WAIT = 20  # seconds, for any one step


def fail(message):
    sys.exit("FAIL: " + message)


def check(ok, message):
    if not ok:
        fail(message)


def start(argv, env=None):
    return subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=sys.stderr, text=True, env=env)


def run(argv, timeout=WAIT, **kw):
    return subprocess.run(argv, capture_output=True, text=True, timeout=timeout, **kw)


def ready_ports(proc, count):
    """The ports of the first `count` "... on ADDR:PORT" lines the server prints."""
    ports = []
    while len(ports) < count:
        line = proc.stdout.readline()
        check(line, "the server ended before it listened")
        m = re.search(r" on (?:http://)?127\.0\.0\.1:(\d+)", line)
        if m:
            ports.append(int(m.group(1)))
    return ports


def answers(port, path="/"):
    """The status of one GET, or None when the port does not answer."""
    try:
        with urllib.request.urlopen(f"http://127.0.0.1:{port}{path}", timeout=WAIT) as res:
            return res.status, res.read()
    except urllib.error.HTTPError as e:
        return e.code, e.read()
    except OSError:
        return None, b""


def stop(proc):
    proc.send_signal(signal.SIGTERM)
    try:
        code = proc.wait(WAIT)
    except subprocess.TimeoutExpired:
        proc.kill()
        fail("the server did not stop within %d s of SIGTERM" % WAIT)
    check(code == 0, f"the server stopped with {code}")


def notify(binary):
    with tempfile.TemporaryDirectory(prefix="rs-notify-") as tmp:
        sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        sock.bind(os.path.join(tmp, "notify"))
        sock.settimeout(WAIT)
        os.mkdir(os.path.join(tmp, "files"))
        with open(os.path.join(tmp, "reply"), "w") as f:
            f.write("DownUrl==http://127.0.0.1/x.exe")
        env = dict(os.environ, NOTIFY_SOCKET=os.path.join(tmp, "notify"))
        proc = start([binary, "--listen", "127.0.0.1:0", "--admin-listen", "127.0.0.1:0",
                      "--db", os.path.join(tmp, "r.db"), "--reply", os.path.join(tmp, "reply"),
                      "--files", os.path.join(tmp, "files")], env)
        try:
            def expect(state, when):
                try:
                    got = sock.recv(4096).decode()
                except socket.timeout:
                    fail(f"no {state} {when} within {WAIT} s")
                check(got.split("\n")[0] == state, f"{when}: got {got!r}, want {state}")

            expect("READY=1", "at start")
            # The ready lines were printed before READY=1: both listeners answer now.
            public, admin = ready_ports(proc, 2)
            check(answers(public, "/?Key=Setup&Data=one")[0] == 200, "the public port answers once READY=1 came")
            check(answers(admin, "/api/stats")[0] == 200, "the admin port answers once READY=1 came")
            proc.send_signal(signal.SIGHUP)
            expect("RELOADING=1", "on SIGHUP")
            expect("READY=1", "after the reload")
            proc.send_signal(signal.SIGTERM)
            expect("STOPPING=1", "on SIGTERM")
            stop(proc)
        finally:
            if proc.poll() is None:
                proc.kill()
    print("notify: READY=1 with both ports answering, RELOADING=1/READY=1 on SIGHUP, STOPPING=1 on SIGTERM")


EXPECTED_FILES = {  # path in the package: mode
    "usr/bin/report-server": 0o755,
    "usr/lib/systemd/system/report-server.service": 0o644,
    "usr/lib/systemd/system/report-server-prune.service": 0o644,
    "usr/lib/systemd/system/report-server-prune.timer": 0o644,
    "usr/share/doc/report-server/examples/rules.toml": 0o644,
    "usr/share/man/man8/report-server.8": 0o644,
}
DEPENDS = ["libmicrohttpd12", "libsqlite3-0", "libpq5", "libgnutls30", "libsystemd0"]
UNIT_SETTINGS = ["Type=notify", "DynamicUser=yes", "UMask=0027", "StateDirectory=report-server",
                 "NoNewPrivileges=yes", "ProtectSystem=strict", "ProtectHome=yes", "PrivateTmp=yes",
                 "PrivateDevices=yes", "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX",
                 "SystemCallFilter=@system-service", "CapabilityBoundingSet="]


def files_under(root):
    out = {}
    for folder, _, names in os.walk(root):
        for n in names:
            path = os.path.join(folder, n)
            out[os.path.relpath(path, root)] = stat.S_IMODE(os.lstat(path).st_mode)
    return out


def unit_lines(path):  # continuations joined
    text = open(path).read().replace("\\\n", " ")
    return [re.sub(r"\s+", " ", line.strip()) for line in text.splitlines() if line.strip() and line[0] not in "#;"]


def verify_units(units, binary, tmp):
    """systemd-analyze verify on the units, their ExecStart pointed at `binary`."""
    analyze = shutil.which("systemd-analyze")
    if not analyze:
        print("package: systemd-analyze not found; the unit's syntax was not verified")
        return
    os.makedirs(os.path.join(tmp, "verify"))
    copies = [os.path.join(tmp, "verify", os.path.basename(unit)) for unit in units]
    for unit, copy in zip(units, copies):
        with open(copy, "w") as f:
            f.write(open(unit).read().replace("/usr/bin/report-server", binary))
    r = run([analyze, "verify", "--man=no", *copies], 60)
    said = (r.stdout + r.stderr).strip()
    # In a container without a running systemd the command can fail before it
    # reads the unit; only its words about the unit count then.
    if r.returncode != 0 and "report-server" not in said:
        print(f"package: systemd-analyze cannot run here ({said[:200]!r}); the unit was not verified")
        return
    check(r.returncode == 0 and not said, f"systemd-analyze verify: {said}")
    print(f"package: systemd-analyze verify finds nothing to say about the {len(units)} units")


def package(cpack, config, cmake, build):
    with tempfile.TemporaryDirectory(prefix="rs-package-") as tmp:
        r = run([cpack, "--config", config, "-G", "DEB", "-B", os.path.join(tmp, "pkg")], 120)
        check(r.returncode == 0, "cpack failed:\n" + r.stdout + r.stderr)
        debs = [f for f in os.listdir(os.path.join(tmp, "pkg")) if f.endswith(".deb")]
        check(len(debs) == 1, f"one package made, got {debs}")
        deb = os.path.join(tmp, "pkg", debs[0])

        fields = run(["dpkg-deb", "-f", deb, "Package", "Depends"], check=True).stdout
        check("Package: report-server" in fields, f"package name: {fields}")
        depends = {d.strip().split(" ")[0] for d in re.search(r"Depends: (.*)", fields).group(1).split(",")}
        missing = [d for d in DEPENDS if d not in depends]
        check(not missing, f"Depends lacks {missing}: {fields}")
        listing = run(["dpkg-deb", "-c", deb], check=True).stdout
        check(all(line.split()[1] == "root/root" for line in listing.splitlines()), "files owned by root:\n" + listing)

        root = os.path.join(tmp, "root")
        subprocess.run(["dpkg", "-x", deb, root], check=True, timeout=60)
        got = files_under(root)
        check(got == EXPECTED_FILES,
              "package files and modes:\n" + "\n".join(f"  {p} {oct(m)}" for p, m in sorted(got.items())))

        unit = os.path.join(root, "usr/lib/systemd/system/report-server.service")
        lines = unit_lines(unit)
        absent = [s for s in UNIT_SETTINGS if s not in lines]
        check(not absent, f"the unit lacks {absent}")
        execs = [line for line in lines if line.startswith("ExecStart=")]
        check(len(execs) == 1 and execs[0].startswith("ExecStart=/usr/bin/report-server "), f"ExecStart: {execs}")
        binary = os.path.join(root, "usr/bin/report-server")
        # The man page names every command the installed --help lists.
        usage = run([binary, "--help"]).stdout
        commands = set(re.findall(r"^  report-server ([a-z]+) ", usage, re.M))
        man = open(os.path.join(root, "usr/share/man/man8/report-server.8")).read()
        unnamed = [c for c in sorted(commands) if f".B report-server {c}" not in man]
        check(len(commands) >= 4 and not unnamed, f"--help lists {sorted(commands)}; the man page lacks {unnamed}")
        units = os.path.dirname(unit)
        verify_units([os.path.join(units, u) for u in sorted(os.listdir(units))], binary, tmp)
        prune = unit_lines(os.path.join(units, "report-server-prune.service"))
        check("User=report-server" in prune and "User=report-server" in lines,
              "the server and its prune share one user name")

        # The installed server, started once from the unpacked files with the
        # example rules and the files they name.
        rules = os.path.join(root, "usr/share/doc/report-server/examples/rules.toml")
        files = os.path.join(tmp, "files")
        for name in ("korvel/korvel-setup.exe", "korvel/beta/korvel-setup.exe"):
            os.makedirs(os.path.dirname(os.path.join(files, name)), exist_ok=True)
            with open(os.path.join(files, name), "wb") as f:
                f.write(b"MZ installer " + name.encode())
        r = run([binary, "check", rules, "--files", files])
        check(r.returncode == 0 and "rule 'beta'" in r.stdout, f"check of the example rules: {r.stdout}{r.stderr}")
        state = os.path.join(tmp, "state")
        os.mkdir(state)
        db = os.path.join(state, "requests.db")
        proc = start([binary, "--listen", "127.0.0.1:0", "--db", db, "--rules", rules, "--files", files])
        try:
            (port,) = ready_ports(proc, 1)
            status, body = answers(port, "/?Key=Info&Channel=beta&TimeID=1&PcId=p")
            check(status == 200 and body, f"Info answered {status} {body[:80]!r}")
        finally:
            stop(proc) if proc.poll() is None else None
        events = run([binary, "events", "--db", db])
        check(events.returncode == 0 and events.stdout.count("\n") == 1, f"events: {events.stdout}{events.stderr}")
        # Retention as the timer runs it: the row's own day keeps it, the next deletes it.
        today = datetime.date.fromisoformat(json.loads(events.stdout)["time"][:10])
        for before, code, says in [(str(today), 0, f"0 requests recorded before {today} deleted"),
                                   (str(today + datetime.timedelta(days=1)), 0, "1 request recorded before")]:
            r = run([binary, "prune", "--db", db, "--before", before])
            check(r.returncode == code and says in r.stdout + r.stderr, f"prune --before {before}: {r.stdout}{r.stderr}")
        events = run([binary, "events", "--db", db])
        check(events.returncode == 0 and events.stdout == "", f"events after prune: {events.stdout}{events.stderr}")

        # cmake --install puts the same files under a prefix, and the unit names that prefix's binary.
        prefix = os.path.join(tmp, "prefix")
        r = run([cmake, "--install", build, "--component", "server", "--prefix", prefix], 120)
        check(r.returncode == 0, "cmake --install: " + r.stdout + r.stderr)
        installed = {"usr/" + p for p in files_under(prefix)}
        check(installed == set(EXPECTED_FILES), f"cmake --install made {sorted(files_under(prefix))}")
        execs = [line for line in unit_lines(os.path.join(prefix, "lib/systemd/system/report-server.service"))
                 if line.startswith("ExecStart=")]
        check(execs and execs[0].startswith(f"ExecStart={prefix}/bin/report-server "), f"installed ExecStart: {execs}")
    print(f"package: {debs[0]}: {len(EXPECTED_FILES)} files, modes, Depends, unit; served one request from the "
          "unpacked files; cmake --install matches")


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "notify":
        notify(sys.argv[2])
    elif len(sys.argv) == 6 and sys.argv[1] == "package":
        package(*sys.argv[2:])
    else:
        fail("usage: service_test.py notify REPORT_SERVER | package CPACK CPACK_CONFIG CMAKE BUILD_DIR")

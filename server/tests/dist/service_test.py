#!/usr/bin/env python3
"""The server as an operator runs it: `notify REPORT_SERVER` checks its systemd notifications;
`package CPACK CPACK_CONFIG CMAKE BUILD_DIR` checks the .deb, runs the unpacked server the same way and checks
`cmake --install` under a prefix. Every wait is bounded; loopback only."""
import os, re, shutil, signal, socket, subprocess, sys, tempfile, urllib.request

WAIT = 20  # seconds, for any one step


def fail(message):
    sys.exit("FAIL: " + message)


def check(ok, message):
    if not ok:
        fail(message)


def run(argv, timeout=WAIT, **kw):
    return subprocess.run(argv, capture_output=True, text=True, timeout=timeout, **kw)


def get(port, path):
    with urllib.request.urlopen(f"http://127.0.0.1:{port}{path}", timeout=WAIT) as res:
        return res.status, res.read()


def notify(binary, tmp, args, query):
    """Runs the server with its own notification socket: READY=1 once both listeners answer (`query` on the
    public one), RELOADING=1 and READY=1 around a SIGHUP, STOPPING=1 on SIGTERM. Returns the public answer."""
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    sock.bind(os.path.join(tmp, "notify"))
    sock.settimeout(WAIT)
    env = dict(os.environ, NOTIFY_SOCKET=sock.getsockname())
    proc = subprocess.Popen([binary, "--listen", "127.0.0.1:0", "--admin-listen", "127.0.0.1:0", *args],
                            stdout=subprocess.PIPE, text=True, env=env)
    try:
        def expect(state, when):
            try:
                got = sock.recv(4096).decode()
            except socket.timeout:
                fail(f"no {state} {when} within {WAIT} s")
            check(got.split("\n")[0] == state, f"{when}: got {got!r}, want {state}")

        expect("READY=1", "at start")
        # The ready lines were printed before READY=1: both listeners answer now.
        ports = []
        while len(ports) < 2:
            line = proc.stdout.readline()
            check(line, "the server ended before it listened")
            ports += [int(p) for p in re.findall(r" on (?:http://)?127\.0\.0\.1:(\d+)", line)]
        status, body = get(ports[0], query)
        check(status == 200 and get(ports[1], "/api/stats")[0] == 200, "both ports answer once READY=1 came")
        proc.send_signal(signal.SIGHUP)
        expect("RELOADING=1", "on SIGHUP")
        expect("READY=1", "after the reload")
        proc.send_signal(signal.SIGTERM)
        expect("STOPPING=1", "on SIGTERM")
        check(proc.wait(WAIT) == 0, f"the server stopped with {proc.returncode}")
    finally:
        if proc.poll() is None:
            proc.kill()
    return body


UNITS = ["report-server.service", "report-server-prune.service", "report-server-prune.timer"]


def exec_start(units):
    return re.findall(r"^ExecStart=(\S+)", open(os.path.join(units, UNITS[0])).read(), re.M)


def verify_units(units):
    analyze = shutil.which("systemd-analyze")
    if not analyze:
        print("package: systemd-analyze not found; the unit's syntax was not verified")
        return
    r = run([analyze, "verify", "--man=no", *units], 60)
    said = (r.stdout + r.stderr).strip()
    # In a container without a running systemd the command can fail before it
    # reads the unit; only its words about the unit count then.
    if r.returncode != 0 and "report-server" not in said:
        print(f"package: systemd-analyze cannot run here ({said[:200]!r}); the unit was not verified")
        return
    check(r.returncode == 0 and not said, f"systemd-analyze verify: {said}")
    # systemd's own score of the server's confinement: any hardening line lost raises it above today's 1.6.
    r = run([analyze, "security", "--offline=yes", "--threshold=16", units[0]], 60)
    check(r.returncode == 0, "systemd-analyze security: " + (r.stdout + r.stderr).strip().splitlines()[-1])
    print(f"package: systemd-analyze verify finds nothing to say about the {len(units)} units")


def package(cpack, config, cmake, build):
    with tempfile.TemporaryDirectory(prefix="rs-package-") as tmp:
        r = run([cpack, "--config", config, "-G", "DEB", "-B", os.path.join(tmp, "pkg")], 120)
        check(r.returncode == 0, "cpack failed:\n" + r.stdout + r.stderr)
        debs = [f for f in os.listdir(os.path.join(tmp, "pkg")) if f.endswith(".deb")]
        check(len(debs) == 1 and debs[0].startswith("report-server_"), f"one package made, got {debs}")
        deb = os.path.join(tmp, "pkg", debs[0])
        depends = run(["dpkg-deb", "-f", deb, "Depends"], check=True).stdout
        names = {d.strip().split(" ")[0] for d in depends.split(",")}
        missing = {"libmicrohttpd12", "libsqlite3-0", "libpq5", "libgnutls30", "libsystemd0"} - names
        check(not missing, f"Depends lacks {missing}: {depends}")

        root = os.path.join(tmp, "root")
        subprocess.run(["dpkg", "-x", deb, root], check=True, timeout=60)
        units = os.path.join(root, "usr/lib/systemd/system")
        shipped = sorted(os.path.relpath(os.path.join(d, n), root) for d, _, names in os.walk(root) for n in names)
        check(shipped == sorted(["usr/bin/report-server", "usr/share/man/man8/report-server.8",
                                 "usr/share/doc/report-server/examples/rules.toml",
                                 *("usr/lib/systemd/system/" + u for u in UNITS)]), f"the package's files: {shipped}")
        check(exec_start(units) == ["/usr/bin/report-server"], f"ExecStart: {exec_start(units)}")

        # The unpacked server with the example rules and the files they name.
        files = os.path.join(tmp, "files")
        for name in ("korvel/korvel-setup.exe", "korvel/beta/korvel-setup.exe"):
            os.makedirs(os.path.dirname(os.path.join(files, name)), exist_ok=True)
            with open(os.path.join(files, name), "wb") as f:
                f.write(b"MZ installer " + name.encode())
        binary = os.path.join(root, "usr/bin/report-server")
        db = os.path.join(tmp, "requests.db")
        rules = os.path.join(root, "usr/share/doc/report-server/examples/rules.toml")
        args = ["--db", db, "--rules", rules, "--files", files]
        check(notify(binary, tmp, args, "/?Key=Info&Channel=beta&TimeID=1"), "Info answered with no reply")
        events = run([binary, "events", "--db", db])
        check(events.returncode == 0 and events.stdout.count("\n") == 1,
              "one request recorded: " + events.stdout + events.stderr)

        # cmake --install under a prefix: the units name its binary, there for systemd-analyze to find.
        prefix = os.path.join(tmp, "prefix")
        r = run([cmake, "--install", build, "--component", "server", "--prefix", prefix], 120)
        check(r.returncode == 0, "cmake --install: " + r.stdout + r.stderr)
        units = os.path.join(prefix, "lib/systemd/system")
        check(exec_start(units) == [prefix + "/bin/report-server"], f"ExecStart: {exec_start(units)}")
        verify_units([os.path.join(units, u) for u in UNITS])
    print(f"package: {debs[0]}: Depends, ExecStart; the unpacked server serves; cmake --install")


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "notify":
        with tempfile.TemporaryDirectory(prefix="rs-notify-") as tmp:
            with open(os.path.join(tmp, "reply"), "w") as f:
                f.write("DownUrl==http://127.0.0.1/x.exe")
            args = ["--db", os.path.join(tmp, "r.db"), "--reply", os.path.join(tmp, "reply"), "--files", tmp]
            notify(sys.argv[2], tmp, args, "/?Key=Setup&Data=one")
        print("notify: READY=1 once both ports answer, RELOADING=1/READY=1 on SIGHUP, STOPPING=1 on SIGTERM")
    elif len(sys.argv) == 6 and sys.argv[1] == "package":
        package(*sys.argv[2:])
    else:
        fail("usage: service_test.py notify REPORT_SERVER | package CPACK CPACK_CONFIG CMAKE BUILD_DIR")

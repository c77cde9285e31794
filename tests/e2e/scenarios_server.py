"""The report server a publisher runs: release rules, digests the server
computes itself, and the dashboard in a real browser."""
import os
import re
import shutil
import signal
import subprocess
import tempfile
import urllib.error
import urllib.request
import uuid

from cluster import PG_BIN, pg_socket
from harness import ADMIN_PORT, BASE, Server, check, check_eq, wait_exit
from scenarios_download import failed_state

RULES = """download_base = "http://127.0.0.1:18471/"

[[rule]]
name = "beta"
Channel = "beta"
file = "beta/korvel-setup.exe"
NameTitle = "Korvel测试版"
NISITitle = "Korvel"
NISIVer = "3.2.0"

[default]
file = "stable/korvel-setup.exe"
NameTitle = "Korvel安装"
NISITitle = "Korvel"
NISIVer = "3.1.1"
"""
SAVED = "C:\\Temp\\korvel-setup.exe"


def installers(env):
    with open(env.sample, "rb") as f:
        stable = f.read()
    with open(env.sample_error, "rb") as f:
        beta = f.read()
    check(stable != beta, "two different installers")
    return stable, beta


def run_to_install(env, server, build="stub.exe", expect_bytes=None, expect_path=None):
    """Runs one stub to its end; it must have downloaded, verified and started
    `expect_bytes` from `expect_path`."""
    before = len(server.file_requests())
    check_eq(wait_exit(env.start_stub(build=build), 60), 0, f"{build} exit code")
    data = server.data()
    check(data[-1].startswith("DownFinish=OK:"), f"{build}: last report {data[-1]!r}")
    targets = server.file_requests()[before:]
    check_eq(len(targets), 1, f"{build}: file requests")
    check(targets[0].startswith(expect_path + "?"), f"{build}: downloaded {targets[0]!r}")
    with open(env.path(SAVED), "rb") as f:
        check(f.read() == expect_bytes, f"{build}: the saved installer is the one of its rule")
    check(os.path.exists(env.path(SAVED + ".ran")), f"{build}: the installer ran")


def test_server_two_channels_get_their_own_installers(env):
    stable, beta = installers(env)
    files = {"stable/korvel-setup.exe": stable, "beta/korvel-setup.exe": beta}
    with Server(env, rules=RULES, files=files) as server:
        run_to_install(env, server, "stub.exe", stable, "/stable/korvel-setup.exe")
        env.reset()
        run_to_install(env, server, "stub-beta.exe", beta, "/beta/korvel-setup.exe")
        channels = [e["Channel"] for e in server.events() if e["Key"] == "Info"]
    check_eq(channels, ["wlpq", "beta"], "the channels the stubs sent")


def test_server_replaced_installer_is_announced_with_its_new_digest(env):
    stable, beta = installers(env)
    files = {"stable/korvel-setup.exe": stable, "beta/korvel-setup.exe": beta}
    with Server(env, rules=RULES, files=files) as server:
        run_to_install(env, server, "stub.exe", stable, "/stable/korvel-setup.exe")
        # A new build of the installer while the server runs.
        server.put_file("stable/korvel-setup.exe", beta)
        env.reset()
        run_to_install(env, server, "stub.exe", beta, "/stable/korvel-setup.exe")


def test_server_broken_rules_on_reload_keep_the_old_ones(env):
    stable, beta = installers(env)
    files = {"stable/korvel-setup.exe": stable, "beta/korvel-setup.exe": beta}
    with Server(env, rules=RULES, files=files) as server:
        with open(server.rules, "w", encoding="utf-8") as f:
            f.write(RULES.replace("stable/korvel-setup.exe", "Stable/Korvel-Setup.exe"))
        server.proc.send_signal(signal.SIGHUP)
        run_to_install(env, server, "stub.exe", stable, "/stable/korvel-setup.exe")


def chromium(*args):
    profile = tempfile.mkdtemp(prefix="e2e-chromium-")
    try:
        return subprocess.run(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--no-first-run", f"--user-data-dir={profile}", "--virtual-time-budget=15000", *args],
            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
    finally:
        shutil.rmtree(profile, ignore_errors=True)


def page_figures(url):
    """The figures shown on the dashboard at `url`, by their data-figure names."""
    dom = chromium("--dump-dom", url).stdout
    check('data-ready="1"' in dom, f"the page loaded its figures: {dom[-400:]!r}")
    return dict(re.findall(r'data-figure="([^"]+)"[^>]*>([^<]*)<', dom))


def expected_figures(lines):
    by_kind = {}
    for line in lines:
        by_kind.setdefault(line["kind"], []).append(line)
    want = {}
    for k, v in by_kind["funnel"][0].items():
        if k != "kind":
            want["funnel." + k] = str(v)
    for k, v in by_kind["reasons"][0].items():
        if k == "trails":
            for trail, n in v.items():
                want["trails." + trail] = str(n)
        elif k != "kind":
            want["reasons." + k] = str(v)
    t = by_kind["install_time"][0]
    want["install_time.count"] = str(t["count"])
    for k in ("median_s", "p90_s"):  # JavaScript writes 2.0 as "2"
        want["install_time." + k] = re.sub(r"\.0$", "", str(t[k]))
    for s in by_kind.get("split", []):
        for k in ("runs", "installed", "failed_twice"):
            want[f"split.{s['day']}.{s['by']}.{s['value']}.{k}"] = str(s[k])
    return want


def test_server_dashboard_shows_the_stats_of_real_runs(env):
    stable, beta = installers(env)
    files = {"stable/korvel-setup.exe": stable, "beta/korvel-setup.exe": beta}
    rules = RULES.replace('file = "beta/korvel-setup.exe"',
                          'url = "http://127.0.0.1:18471/beta/korvel-setup.exe"\n'
                          'md5 = "00000000000000000000000000000000"')
    server = Server(env, rules=rules, files=files, admin=True)
    # The figures come from PostgreSQL here (the other scenarios use SQLite).
    name = "e2e_" + uuid.uuid4().hex[:12]
    subprocess.run([os.path.join(PG_BIN, "createdb"), "-h", pg_socket(), "-U", "postgres", name],
                   check=True, stdin=subprocess.DEVNULL)
    server.db = f"postgresql:///{name}?host={pg_socket()}&user=postgres"
    server.options += ["--spool", os.path.join(server.dir, "spool")]
    with server:
        run_to_install(env, server, "stub.exe", stable, "/stable/korvel-setup.exe")
        # The same machine again: the installer on disk is reused.
        check_eq(wait_exit(env.start_stub(), 60), 0, "reuse run exit code")
        check_eq(server.data()[-1], "IsDownEmp=OK", "the second run reused the download")
        # A beta stub whose rule announces a wrong digest: two failed downloads.
        env.reset()
        proc = env.start_stub(build="stub-beta.exe")
        failed_state(server, timeout=90)
        proc.kill()
        proc.wait()

        # Only the admin address serves the dashboard and its figures.
        for path in ("/", "/api/stats", "/chart.js"):
            try:
                status = urllib.request.urlopen(BASE.rstrip("/") + path, timeout=10).status
            except urllib.error.HTTPError as e:
                status = e.code
            check_eq(status, 404, f"public port, {path}")

        admin = f"http://127.0.0.1:{ADMIN_PORT}/"
        for query, args in [("", ()), ("?channel=beta", ("--channel", "beta"))]:
            shown = page_figures(admin + query)
            want = expected_figures(server.stats(*args))
            check_eq({k: shown.get(k) for k in want}, want, f"page figures {query or '(all)'}")
        funnel = server.stats()[0]
        check_eq((funnel["runs"], funnel["installed_first"], funnel["reused"], funnel["failed_twice"]),
                 (3, 1, 1, 1), "funnel of the three runs")
        shot = os.path.join(env.shots, "dashboard.png")
        chromium("--screenshot=" + shot, "--window-size=1280,1500", "--hide-scrollbars", admin)
        check(os.path.getsize(shot) > 20000, "dashboard screenshot saved")

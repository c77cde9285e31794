"""Scenarios of distinct behaviours: start-up, the download flow and its window, TLS, the publisher's
server (rules, dashboard) and two servers on PostgreSQL."""
import collections
import concurrent.futures
import hashlib
import http.client
import os
import pathlib
import re
import subprocess
import tempfile
import time

from harness import (ADMIN_PORT, APP_DIR, BASE, FALLBACK_NAME, FALLBACK_PATH, FULL, PORT, WINDOW, Cluster,
                     Server, check, check_eq, pg, pg_database, poll, profile_query, run_to_end,
                     run_to_failure, sample_reply, short, stays_running, wait_exit, wait_for)

CLOSE_ZONE = ("585", "15")     # centre of the close zone, client pixels at 96 DPI
BUTTON = (472, 311)            # a pixel inside the browser button, client pixels
WRONG_MD5 = "0" * 32
SEC = r"-?\d+(\.\d\d?)?"
URL = r"127\.0\.0\.1:18471/rmgb/4\.2\.2/wlpq1\(wlpqhd\)\.exe"
OK_RE = rf"DownFinish=OK:{SEC} DownCode=(\d+,)+ SavePath=C:\\Temp\\ url={URL}"
TLS_PORT, DL_PORT = 18474, 18475               # the test copy stub-tls.exe asks
DL_BASE = f"https://localhost:{DL_PORT}/"
RAN = "C:\\Temp\\" + FALLBACK_NAME + ".ran"

def lasting(cost, group=None):  # a scenario's rough seconds (longest run first) and the lane group it needs
    return lambda fn: fn.__dict__.update(cost=cost, group=group or fn.__name__) or fn

def check_full_run(env, data, files):
    check_eq(data[:-1], FULL[:4], "reports")
    check(re.fullmatch(OK_RE, data[-1]), f"last report {data[-1]!r}")
    check_eq(len(files), 1, "file requests")
    check(env.exists(RAN), "the installer ran")

def test_start_normal_run_sends_every_report_in_order(env):
    with Server(env, sample_reply(env)) as server:
        data = run_to_end(env, server)
        events, files = server.events(), server.file_requests()
    check_full_run(env, data, files)
    first, *_ = reports = [e for e in events if e["Key"] is not None]  # the same TimeID and profile in each
    check_eq({(e["TimeID"], profile_query(e)) for e in reports}, {(first["TimeID"], profile_query(first))},
             "TimeID and profile of every request")
    check_eq([first[k] for k in ("softId", "PcId_C", "SoftVer", "Channel", "Scr")],
             ["vrx", "", "V3.1.1", "wlpq", "1024*768"], "profile")
    # The system's bitness: the prefix's, whether the stub runs natively or as a 32-bit program on 64 bits.
    os_bit = "64" if os.environ.get("WINEARCH") == "win64" else "32"
    for key, form in [("TimeID", r"20\d{12}"), ("OSBit", os_bit), ("DPI", r"\d+"), ("OSLanguage", r"\d+"),
                      ("PcId", r"C\d{24}")]:  # PcId in the processor form
        check(re.fullmatch(form, first[key] or ""), f"{key} {first[key]!r}")
    for e, head in [(events[0], "Key=Info"), (events[1], "Key=Setup&Data=one")]:
        check_eq(e["target"].split("?", 1)[1], f"{head}&TimeID={e['TimeID']}" + profile_query(e), "query")
    check(re.fullmatch(r"/" + re.escape(FALLBACK_PATH) + r"\?20\d{12}", files[0]), f"time-stamped URL {files[0]!r}")
    check_eq(env.files_under("C:\\Temp\\"), ["1.tmp", FALLBACK_NAME, FALLBACK_NAME + ".ran"], "files in C:\\Temp")

def window_rect(env, title=WINDOW):  # (visible, [left, top, right, bottom]) of its own line, the first
    code, out = env.helper("info", title)
    check_eq(code, 0, f"window {title!r} exists")
    return int(out.split()[0]), [int(v) for v in out.split()[1:5]]

@lasting(12)
def test_download_wrong_digest_retries_then_offers_the_browser(env):
    junk = b"not the installer" * 60
    with Server(env, sample_reply(env, md5=WRONG_MD5), files={FALLBACK_PATH: junk}) as server:
        proc, shot = run_to_failure(env, server), env.screenshot("failed-state")
        left, top, _, _ = window_rect(env)[1]
        r, g, b = env.pixel(shot, left + BUTTON[0], top + BUTTON[1])
        check(r > 200 and 140 < g < 220 and b < 100, f"browser button colour at its place: {(r, g, b)}")
        env.helper("click", WINDOW, *CLOSE_ZONE)
        check_eq(wait_exit(proc, 30), 0, "exit code after the close zone")
        data = server.data()
    check_eq(data[:4] + data[5:7], ["Info", "one", "frmLoad", "BeginDown", "AutoReDown", "BeginDown"], "reports")
    first = (rf"DownFinish=Not:{SEC} DownCode=4,14,6, DiskSpace=\d+ URLMon=1 "
             rf"SavePath=C:\\Temp\\ DownMD5=[0-9A-F]{{32}} FileMD5={WRONG_MD5} url={URL}")
    check(re.fullmatch(first, data[4]), f"first failure report {data[4]!r}")
    check(re.fullmatch(first.replace(r"C:\\Temp\\", rf"C:\\{APP_DIR}\\"), data[7]), f"second failure {data[7]!r}")
    check_eq(data[8:], [f"fromClose-Down={len(junk)}-"], "the close zone's report")
    check_eq(env.files_under("C:\\Temp\\"), ["1.tmp", FALLBACK_NAME], "C:\\Temp")
    check_eq(env.files_under(f"C:\\{APP_DIR}\\"), ["1.tmp", "setup.exe", FALLBACK_NAME], "program folder")

@lasting(10)
def test_download_second_instance_brings_the_first_forward_and_a_close_request_to_it_ends_it(env):
    with Server(env, sample_reply(env), faults=["--file-rate", "16000"]) as server:
        first = env.start_stub()
        wait_for(server, lambda d: "BeginDown" in d, 30, "the first download")
        check_eq(wait_exit(env.start_stub(copy=False), 30), 0, "the second instance (same executable) ends")
        check_eq(window_rect(env, "Korvel")[0], 1, "the (hidden) application window is shown")
        # The hidden application window (Alt+F4 on the download window: other rows), timed from the post.
        check_eq(env.helper("close", "Korvel")[0], 0, "a close request reaches the application window")
        start = time.monotonic()
        check_eq(wait_exit(first, 30), 0, "the first instance ends on it")
        check(time.monotonic() - start < 6, "a close request during a download ends it at once")
        check(not any(d.startswith("DownFinish") for d in server.data()), "no download report")

@lasting(18)
def test_download_window_answers_and_the_close_zone_only_warns_during_a_download(env):
    # About 8 s for the sample installer: the pings and the box come well before its end.
    with Server(env, sample_reply(env), faults=["--file-rate", str(os.path.getsize(env.sample) // 8)]) as server:
        proc = env.start_stub()
        wait_for(server, lambda d: "BeginDown" in d, 30, "the download")
        # Four shadow windows owned by the download window frame it, darkest at its edge.
        d, style = 8, 0x80024  # depth; layered, transparent to the mouse, no parent notification
        seen = [[]]
        def shadows():
            seen[0] = sorted(tuple(int(v) for v in line.split()) for line in
                             env.helper("info", WINDOW)[1].splitlines()[1:] if line.split()[-1] == str(style))
            return len(seen[0]) == 4 and all(p[0] == 1 for p in seen[0])
        check(poll(shadows, 15), f"four visible shadow pieces: {seen[0]}")
        pieces, (left, top, right, bottom) = seen[0], window_rect(env)[1]
        shot = env.screenshot("mid-download")
        check_eq(pieces, sorted((1, *rect, style) for rect in [  # right and bottom take the corners
            (right, top - d, right + d, bottom + d), (left - d, bottom, right, bottom + d),
            (left - d, top, left, bottom), (left - d, top - d, right, top)]), "shadows: visible, rectangle, style")
        near, far, ground = (sum(env.pixel(shot, x, (top + bottom) // 2)) for x in (right, right + d - 1, right + 40))
        check(near < far < ground and ground - near >= 30, f"the shadow fades outward: {near}, {far}, {ground} beyond")
        for _ in range(3):
            check_eq(env.helper("ping", WINDOW, "1")[0], 0, "the window answered within a second")
        env.helper("click", WINDOW, *CLOSE_ZONE)
        check_eq(env.helper("wait", "提示", "10")[0], 0, "the message box")
        stays_running(proc, 1, "the box keeps its keyboard while progress keeps arriving")
        check_eq(env.helper("enter", "提示", "5")[0], 0, "Enter closes the box")  # Wine takes about 2 s for it
        check_eq(wait_exit(proc, 90), 0, "exit code after the download")
        data = server.data()
    check(data[-1].startswith("DownFinish=OK:"), f"the download went on: {data!r}")
    check(not any(d.startswith("fromClose") for d in data), "no close report")

def test_start_close_zone_in_the_first_half_second_holds_the_flow_until_the_box_closes(env):
    with Server(env, sample_reply(env)) as server:
        proc = env.start_stub()
        check_eq(env.helper("clickfirst", WINDOW, "30", *CLOSE_ZONE)[0], 0, "a click as soon as the window shows")
        check_eq(env.helper("wait", "提示", "10")[0], 0, "the message box")
        stays_running(proc, 2, "four ticks of the start timer with the box open")
        check("BeginDown" not in server.data(), f"no download while the box is open: {server.data()!r}")
        check_eq(env.helper("enter", "提示", "5")[0], 0, "Enter closes the box")
        check_eq(wait_exit(proc, 60), 0, "exit code")
        data = server.data()
    check_eq(short(data), FULL, "reports: the flow ran once the box had closed")

def test_download_signed_installer_for_a_stub_that_pins_its_publisher(env):
    signed = env.signed("signed")  # by the test publisher, whose root the prefix now trusts
    sha256 = hashlib.sha256(pathlib.Path(signed).read_bytes()).hexdigest()
    reply = sample_reply(env, md5=env.tool("md5", signed).decode().strip()) + "<#>FileSHA256==" + sha256
    with Server(env, reply, files={FALLBACK_PATH: signed}) as server:
        data = run_to_end(env, server, build="stub-pinned.exe")
    check_eq(short(data), [*FULL[:4], "DownFinish=OK Sign=ok"], "reports")
    check(re.fullmatch(OK_RE + " Sign=ok", data[-1]), f"the verdict ends the report: {data[-1]!r}")
    check(env.exists(RAN), "the signed installer was checked and started")

def tls_server(env, reply="", tls="localhost", port=TLS_PORT, **kw):  # or with DL_PORT the download host
    return Server(env, reply, port=port, tls=tls, **kw)

def test_tls_run_with_the_installer_on_a_second_tls_server(env):
    url = DL_BASE + "setup/korvel-setup.exe"
    with tls_server(env, sample_reply(env, url=url)) as server, \
            tls_server(env, port=DL_PORT, files={"setup/korvel-setup.exe": env.sample}, installer=False) as dl:
        data = run_to_end(env, server, build="stub-tls.exe")
        files = dl.file_requests()
    check_eq(short(data), ["Info", "one", "frmLoad", "BeginDown", "DownFinish=OK"], "reports over TLS")
    # url= keeps the scheme of a TLS download, so the server can tell it from a plain one.
    check(data[-1].endswith(" url=" + url), f"the download address in the report: {data[-1]!r}")
    check_eq([f.split("?")[0] for f in files], ["/setup/korvel-setup.exe"], "the second server served it")
    check(env.exists("C:\\Temp\\korvel-setup.exe.ran"), "the installer was verified and started")

# A beta rule with a wrong digest: the beta copy fails twice.
RULES = ('download_base = "http://127.0.0.1:18471/"\n'
         f'rule = [{{name = "beta", Channel = "beta", url = "{BASE}beta/korvel-setup.exe", '
         f'md5 = "{WRONG_MD5}", NameTitle = "Korvel测试版", NISITitle = "Korvel", NISIVer = "3.2.0"}}]\n'
         'default = {file = "stable/korvel-setup.exe", NameTitle = "Korvel安装", NISITitle = "Korvel", NISIVer = "3.1.1"}\n')

def chromium(*args):
    with tempfile.TemporaryDirectory(prefix="e2e-chromium-") as profile:
        return subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                               "--disable-background-networking", "--disable-component-update", "--disable-sync",
                               f"--user-data-dir={profile}", "--virtual-time-budget=15000", *args],
                              stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)

def expected_figures(lines):
    """The dashboard's data-figure names and texts the stats lines call for."""
    kinds = {}
    for line in lines:
        kinds.setdefault(line.pop("kind"), []).append(line)
    funnel, reasons, times = (kinds[k][0] for k in ("funnel", "reasons", "install_time"))
    return ({"funnel." + k: str(v) for k, v in funnel.items()} |
            {"reasons." + k: str(v) for k, v in reasons.items() if k != "trails"} |
            {"trails." + t: str(n) for t, n in reasons.get("trails", {}).items()} |
            # JavaScript writes 2.0 as "2"
            {"install_time." + k: re.sub(r"\.0$", "", str(times[k])) for k in ("count", "median_s", "p90_s")} |
            {f"split.{s['day']}.{s['by']}.{s['value']}.{k}": str(s[k])
             for s in kinds.get("split", []) for k in ("runs", "installed", "failed_twice")})

@lasting(45, group="pg")
def test_server_dashboard_shows_the_stats_of_real_runs(env):
    # The figures come from PostgreSQL here.
    files = {"stable/korvel-setup.exe": env.sample, "beta/korvel-setup.exe": env.sample_error}
    server = Server(env, rules=RULES, files=files, admin=True, db=pg_database())
    server.options += ["--spool", os.path.join(server.dir, "spool")]
    with server:
        check_eq(short(run_to_end(env, server)), FULL, "reports of the stable copy")
        check_eq(run_to_end(env, server)[-1], "IsDownEmp=OK", "the same machine again reuses the download")
        env.reset()
        run_to_failure(env, server, build="stub-beta.exe").kill()
        for path, status in [("/", 200), ("/api/stats", 200), ("/chart.js", 200), ("/api/stats?since=2026-13", 400),
                             ("/x.db", 404)]:
            for port, want in ((PORT, 404), (ADMIN_PORT, status)):  # only the admin address serves them
                conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
                conn.request("GET", path)
                check_eq(conn.getresponse().status, want, f"port {port}, {path}")
        admin = f"http://127.0.0.1:{ADMIN_PORT}/"
        for query, args in [("", ()), ("?channel=beta", ("--channel", "beta"))]:
            dom = chromium("--dump-dom", admin + query).stdout
            check('data-ready="1"' in dom, f"the page loaded its figures: {dom[-400:]!r}")
            shown = dict(re.findall(r'data-figure="([^"]+)"[^>]*>([^<]*)<', dom))
            want = expected_figures(server.events("stats", *args))
            check_eq({k: shown.get(k) for k in want}, want, f"page figures {query or '(all)'}")
        funnel = server.events("stats")[0]
        check_eq([funnel[k] for k in ("runs", "installed_first", "reused", "failed_twice")], [3, 1, 1, 1], "funnel")

def load(threads, each, pause, seconds=120):
    """Direct clients, each sending `each` reports on one kept-alive connection; returns them and their statuses."""
    answers, deadline = [], time.monotonic() + seconds

    def client(prefix):
        conn = http.client.HTTPConnection("127.0.0.1", PORT, timeout=60)
        for i in range(each):
            if time.monotonic() > deadline:
                break
            time.sleep(pause)
            try:
                conn.request("GET", f"/?Key=Setup&Data={prefix}-{i}&TimeID=20240501083000")
                res = conn.getresponse()
                res.read()
                answers.append(res.status)
            except (OSError, http.client.HTTPException):
                answers.append(0)
                conn.close()  # the next request connects anew
        conn.close()
    pool = concurrent.futures.ThreadPoolExecutor(threads)
    pool.map(client, [f"c{t}" for t in range(threads)])
    return pool, answers

@lasting(16, group="pg")
def test_cluster_stubs_and_clients_over_two_servers_through_a_database_outage(env):
    threads, each = 8, 150
    with Cluster(env, sample_reply(env), db=pg_database()) as cluster:
        clients, answers = load(threads, each, pause=0.04)  # paced to outlast the outage
        stub = env.start_stub()
        check(poll(lambda: len(answers) >= threads * each // 4, 60), f"a quarter answered: {len(answers)}")
        pg("pg_stop", env.build)
        try:  # the outage lasts while 200 reports are answered
            during = len(answers)
            check(poll(lambda: len(answers) >= during + 200, 30),
                  f"reports answered while the database is away: {len(answers) - during}")
        finally:
            pg("pg_resume", env.build)
        check_eq(wait_exit(stub, 90), 0, "stub exit code")
        clients.shutdown()
        check_eq(answers, [200] * (threads * each), "every direct report answered")
        # The spools are written back in the background; the stub sends four reports besides its Info request.
        check(poll(lambda: len([e for e in cluster.events() if e["Key"] == "Setup"]) >= threads * each + 4, 30),
              "every report written back from the spools")
        events = cluster.events()
        direct = [e["Data"] for e in events if e["Key"] == "Setup" and e["Data"].startswith("c")]
        check_eq((len(direct), len(set(direct))), (threads * each,) * 2, "direct reports recorded, all distinct")
        mine = [e for e in events if not (e["Data"] or "").startswith("c")]  # the stub's requests
        check_full_run(env, cluster.data(mine), cluster.file_requests(mine))
        with open(os.path.join(cluster.dir, "nginx", "access.log")) as f:  # requests passed to each server
            served = collections.Counter(line.split()[0] for line in f)
        check(len(served) == 2 and min(served.values()) > 0, f"both servers answered: {served}")

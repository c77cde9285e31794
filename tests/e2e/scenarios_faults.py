"""The fault matrix: one stub run per fault, each checked for exit code 0, no hang, nothing written outside
C:\\Temp\\, D:\\Temp\\ and the program's folder, no unchecked file started; its reports make docs/faults.md."""
import contextlib
import datetime
import os
import pathlib
import random
import subprocess
import tempfile
import time

from harness import (APP_DIR, BASE, FAILED, FALLBACK_NAME, FALLBACK_PATH, FULL, ROOT, WINDOW, Server, check,
                     check_eq, failing, first_line, installs, poll, raw_reply, run_to_end, run_to_failure,
                     run_to_failure_and_close, sample_reply, short, stays_running, wait_exit, wait_for)
from redirector import redirector
from scenarios import DL_BASE, DL_PORT, tls_server

ROWS = []      # (test name, fault, what the stub did), in the table's order
RESULTS = {}   # test name -> what the server recorded
ALLOWED = ("C:\\Temp\\", "D:\\Temp\\", f"C:\\{APP_DIR}\\", f"D:\\{APP_DIR}\\")
REDIRECT_PORT = 18479
NULLED = ["Info", "GetNetIsnull=''", *FULL[1:]]
FALLBACK = ["Info", "GetNetIsnull='…'", *FULL[1:]]

def row(fault, did, cost=10):
    """Registers a row; the function returns (reports, whether an installer ran)."""
    def register(fn):
        name = f"test_fault_{len(ROWS):02d}_{fn.__name__}"
        ROWS.append((name, fault, did))

        def test(env):
            before = env.snapshot()
            data, installs = fn(env)
            new = sorted(env.snapshot() - before)
            check_eq([p for p in new if not (p + "\\").startswith(ALLOWED)], [],
                     "files written outside the allowed folders")
            ran = [p for p in new if p.endswith(".ran")]
            check_eq(bool(ran), installs, f"an installer started ({ran})")
            RESULTS[name] = f"{len(data)}: " + (", ".join(short(data)) or "nothing reached it")
        test.cost = cost
        globals()[name] = test
        return fn
    return register

@row("Report server silent", "waits 5 s, falls back to the built-in download, installs")
def silent(env):
    with Server(env, sample_reply(env), faults=["--info-delay", "60"]) as server:
        proc = env.start_stub()
        check_eq(env.helper("wait", WINDOW, "20")[0], 0, "the window appeared")
        shown = time.time()  # timed from the information request's arrival, not from Wine's start
        check_eq(wait_exit(proc, 60), 0, "exit code")
        data, events = server.data(), server.events()
    asked = datetime.datetime.fromisoformat(events[0]["time"].replace("Z", "+00:00")).timestamp()
    check(4 <= shown - asked < 9, f"the wait ends by the 5-second rule: window shown {shown - asked:.1f} s after the request")
    check_eq(short(data), NULLED, "reports")
    return data, True
@row("Report server slow (answers after 6 s)", "stops waiting at 5 s, ignores the late reply, installs the built-in download")
def slow(env): return installs(env, NULLED, sample_reply(env, url=BASE + "x.exe"), faults=["--info-delay", "6"])

def closed_until_close(env, build):  # no answer: the window, two failures, Alt+F4 ends it
    # Nothing reaches a server here to time the information wait: the silent row times the 5-second rule.
    proc = env.start_stub(build=build)
    check_eq(env.helper("wait", WINDOW, "15")[0], 0, "the window appears")
    # The download, the retry (each bounded by the stall limit), then the wait for the user.
    stays_running(proc, 8 if build == "stub.exe" else 15, "waits for the user after the second failure")
    env.helper("close", WINDOW)
    check_eq(wait_exit(proc, 20), 0, "exit code")
    return [], False

@row("Closed port (no server at all)", "stops waiting at once, both downloads fail, stays with the browser button; Alt+F4 ends it")
def closed_port(env): return closed_until_close(env, "stub.exe")
@row("Report server and download host names that do not resolve", "stops waiting when the lookup fails, both downloads fail, stays with the browser button; Alt+F4 ends it", cost=20)
def unresolvable_server(env):
    with Server(env, sample_reply(env)) as server:  # listening, but never reached
        closed_until_close(env, "stub-unresolvable.exe")
        return server.data(), False
@row("Download host name that does not resolve", "both downloads fail, stays with the browser button; Alt+F4 ends it")
def unresolvable(env): return failing(env, reply=sample_reply(env, url="http://stub-test.invalid/installer.exe"))
@row("Reply of 1 MiB + 1 byte", "reads at most 1 MiB, finds no download data, installs the built-in download; the report carries the first 2000 units")
def huge_reply(env):
    return installs(env, FALLBACK, "", faults=raw_reply(b"x" * (1024 * 1024 + 1)),
                    then=lambda d: check_eq(len(d[1]), len("GetNetIsnull=''") + 2000, "length of the fallback report"))
@row("Reply of random bytes", "finds no download data, installs the built-in download")
def random_reply(env):
    return installs(env, FALLBACK, "", faults=raw_reply(random.Random(7).randbytes(4096).replace(b"#", b"-")))
@row("Reply that decodes to garbage", "finds no download data, installs the built-in download")
def garbage_reply(env):
    plain = "NameTitle==Korvel 安装 标题<#>NISIVer==2.0"  # no DownUrl
    with Server(env, plain) as server:
        data = run_to_end(env, server)
    check_eq(short(data), FALLBACK, "reports")
    check_eq(data[1], f"GetNetIsnull='{env.encode(plain)}'", "the coded reply in the report")
    return data, True
@row("Reply fields past their bounds (a DownUrl of 100,000 units, a NameTitle of 300)",
     "takes neither: installs the built-in download, and every report arrives")
def overlong_fields(env):
    plain = f"DownUrl=={BASE}{'a' * 100000}.exe<#>FileMD5=={env.sample_md5}<#>NameTitle=={'标' * 300}"
    data, installed = installs(env, FALLBACK, "", faults=raw_reply(env.encode(plain).encode()))
    check(len(data[1]) < 2100, f"the reply in its report is cut: {len(data[1])} units")
    return data, installed
@row("DownUrl whose name holds ..\\", "saves it as .._.._evil.exe inside C:\\Temp\\, installs")
def dotdot_name(env):
    files = {n: env.sample for n in ("dl/..\\..\\evil.exe", "evil.exe", "dl/evil.exe", "dl/setup.exe")}
    return installs(env, FULL, sample_reply(env, url=BASE + "dl/..\\..\\evil.exe"), files=files,
                    then=lambda _: check(".._.._evil.exe" in env.files_under("C:\\Temp\\"), "the safe name"))
@row("DownUrl naming a device (nul.exe, con)", "saves them as _nul.exe and _con inside C:\\Temp\\, verifies them, opens _nul.exe through its handler and starts _con as a program", cost=29)
def device_names(env):
    for name, saved in [("nul.exe", "_nul.exe"), ("con", "_con")]:
        env.reset()
        result = installs(env, FULL, sample_reply(env, url=BASE + "dl/" + name), files={"dl/" + name: env.sample})
        check(saved in env.files_under("C:\\Temp\\"), f"{name} saved as {saved}")
    return result
@row("DownUrl of \\\\host\\share\\x.exe or file:///C:/x.exe", "no request leaves, nothing starts; both attempts fail without a transfer, stays with the browser button; Alt+F4 ends it", cost=40)
def non_web_address(env):
    local = env.path("C:\\x.exe")
    try:
        for url in ["\\\\host\\share\\x.exe", "file:///C:/x.exe"]:
            env.reset()
            env.put("C:\\x.exe", open(env.sample, "rb").read())  # what file: would reach, digest and all
            with Server(env, faults=raw_reply(env.encode(sample_reply(env, url=url)).encode())) as server:
                data = run_to_failure_and_close(env, server)
                check_eq(server.file_requests(), [], f"{url}: requests for files")
            check_eq(short(data), FAILED, "reports")
            check(not os.path.exists(local + ".ran"), f"{url}: nothing started")
    finally:
        subprocess.run(["rm", "-f", local, local + ".ran"])
    return data, False
@row("A query in the address (setup.exe?v=2)", "saves it as setup.exe inside C:\\Temp\\, installs")
def query_in_address(env):
    result = installs(env, FULL, sample_reply(env, url=BASE + "dl/setup.exe?v=2"), files={"dl/setup.exe": env.sample})
    saved = env.files_under("C:\\Temp\\")
    check("setup.exe" in saved and not any("v=2" in n for n in saved), f"saved as setup.exe: {saved}")
    return result
@row("Download answered 404; Alt+F4 in the failed state",
     "both downloads fail the digest check, stays with the browser button; Alt+F4 ends it at once")
def status_404(env): return failing(env, faults=["--file-status", "404"])
@row("Download answered 500", "both downloads fail the digest check, stays with the browser button; Alt+F4 ends it")
def status_500(env): return failing(env, faults=["--file-status", "500"])
@row("Download truncated (connection closed early)", "both downloads fail the digest check, stays with the browser button")
def truncated(env): return failing(env, faults=["--file-truncate", "5000"])
@row("Download stalled (no data, connection held)", "aborts each transfer after the stall limit, stays with the browser button", cost=28)
def stalled(env): return failing(env, faults=["--file-stall", "5000"])
@row("Download trickling (1 byte a second)", "keeps downloading with the window answering; Alt+F4 ends it at once")
def trickle(env):
    with Server(env, sample_reply(env), faults=["--file-rate", "1"]) as server:
        proc = env.start_stub()
        wait_for(server, lambda d: "BeginDown" in d, 30, "the download")
        # A 1-byte-a-second body brings no progress under Wine: look before the 5-second stall limit.
        stays_running(proc, 2.5, "downloading a byte a second")
        check_eq(env.helper("ping", WINDOW, "1")[0], 0, "the window answers")
        env.helper("close", WINDOW)
        check_eq(wait_exit(proc, 10), 0, "exit code")
        data = server.data()
    check_eq(short(data), FULL[:4], "reports")
    return data, False
@row("Download without Content-Length", "shows no progress (no total), verifies the file, installs")
def chunked(env):
    return installs(env, faults=["--file-chunked"],
                    then=lambda d: check(" DownCode= SavePath=" in d[-1], f"no status with a total: {d[-1]!r}"))
@row("Download larger than announced", "keeps the announced bytes, verifies the file, installs")
def oversize(env): return installs(env, faults=["--file-extra", "1000"])
@row("Disk full (a 300 KB D: drive, the program on D:)", "both downloads fail, shows \"D盘已没有可用空间,无法安装软件！\", then the browser button", cost=15)
def disk_full(env):
    folder = tempfile.mkdtemp(prefix="e2e-small-d-")
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=300k", "tmpfs", folder], check=True)
    try:
        os.symlink(folder, env.d_link)
        env.put("C:\\Temp\\1.tmp\\blocker")  # C:\Temp unusable: D:\Temp is chosen
        with Server(env, sample_reply(env)) as server:
            proc = run_to_failure(env, server, folder=f"D:\\{APP_DIR}\\")
            check_eq(env.helper("wait", "提示", "15")[0], 0, "the disk-full message")
            env.helper("close", "提示")
            check(poll(lambda: env.helper("wait", "提示", "0")[0] != 0, 10), "the message box closes")
            env.helper("close", WINDOW)
            check_eq(wait_exit(proc, 20), 0, "exit code")
            data = server.data()
        check(" SavePath=D:\\Temp\\ " in data[4], f"the first attempt in D:\\Temp: {data[4]!r}")
        check(" DiskSpace=0 " in data[-1], f"no space reported: {data[-1]!r}")
        # The first attempt filled the drive: the retry's probe fails there too.
        check_eq(short(data), [*FAILED[:6], "TestEmp=Not", *FAILED[6:]], "reports")
        return data, False
    finally:
        subprocess.run(["wineserver", "-k"], stdin=subprocess.DEVNULL)
        subprocess.run(["umount", folder])

@contextlib.contextmanager
def immutable(*folders):  # made where missing, then closed to every change
    for folder in folders:
        os.makedirs(folder, exist_ok=True)
    subprocess.run(["chattr", "+i", *folders], check=True)
    try:
        yield
    finally:
        subprocess.run(["chattr", "-i", *folders])

@row("C:\\Temp\\ read-only, no D: drive", "saves in the program's folder, installs")
def read_only_temp(env):
    with immutable(env.path("C:\\Temp\\")):
        return installs(env, then=lambda d: check(f"SavePath=C:\\{APP_DIR}\\ " in d[-1], f"in the app folder: {d[-1]!r}"))
@row("C:\\Temp\\ made a link to another user's folder, no D: drive",
     "passes it over and writes nothing through it: saves in the program's folder, installs")
def linked_temp(env):
    os.makedirs(env.path("C:\\theirs\\"), exist_ok=True)
    os.symlink(env.path("C:\\theirs\\"), env.path("C:\\Temp"))  # Wine shows a host link as a reparse point
    try:
        data, ran = installs(env, then=lambda d: check(f"SavePath=C:\\{APP_DIR}\\ " in d[-1], f"in the app folder: {d[-1]!r}"))
        check_eq(env.files_under("C:\\theirs\\"), [], "files written through the link")
    finally:
        os.unlink(env.path("C:\\Temp"))
        os.rmdir(env.path("C:\\theirs\\"))
    return data, ran
@row("Every folder read-only", "reports TestEmp=Not, both downloads fail, stays with the browser button")
def read_only_everywhere(env):
    with immutable(env.path("C:\\Temp\\"), os.path.dirname(env.install_copy())), Server(env, sample_reply(env)) as s:
        data = run_to_failure_and_close(env, s, copy=False)
    check_eq(short(data), [*FAILED[:3], "TestEmp=Not", *FAILED[3:6], "TestEmp=Not", *FAILED[6:]], "reports")
    return data, False
@row("A file of the same name locked by another program", "cannot read it, saves as (1), installs")
def locked_name(env):
    env.put("C:\\Temp\\" + FALLBACK_NAME, b"old")
    lock = env.hold("lock", "C:\\Temp\\" + FALLBACK_NAME, "60")  # (it ends with the next row's reset)
    check_eq(first_line(lock, 30, "the lock helper").strip(), b"held", "the lock helper")
    result = installs(env, [*FULL[:3], "CheckFile-wlpq1(wlpqhd)(1).exe", *FULL[3:]])
    check(env.exists("C:\\Temp\\wlpq1(wlpqhd)(1).exe.ran"), "(1) installed")
    check(open(env.path("C:\\Temp\\" + FALLBACK_NAME), "rb").read() == b"old", "the locked file is untouched")
    return result
@row("A file held open for writing by another program after a 4,14,5,6 transfer with a wrong digest", "cannot read it, so never starts it; both attempts fail, stays with the browser button", cost=15)
def locked_after_clean_transfer(env):
    for folder in ("C:\\Temp\\", f"C:\\{APP_DIR}\\"):
        env.hold("grab", folder + FALLBACK_NAME, "60")
    data, _ = failing(env, reply=sample_reply(env, md5="0" * 32), faults=["--file-rate", "150000"])
    for report in (data[4], data[7]):
        check(" DownCode=4,14,5,6, " in report and " DownMD5=* ERR: " in report, f"clean trail, unread file {report!r}")
    return data, False
@row("Report server slow to answer reports (3 s each)", "waits briefly for each answer, installs; nothing lost")
def slow_report_answers(env): return installs(env, faults=["--report-delay", "3"])
@row("Alt+F4 while waiting to start", "ends at once; nothing downloaded", cost=4)
def alt_f4_waiting(env):
    with Server(env, sample_reply(env)) as server:
        proc = env.start_stub()
        check_eq(env.helper("wait", WINDOW, "10")[0], 0, "the window appears")
        env.helper("close", WINDOW)
        check_eq(wait_exit(proc, 10), 0, "exit code")
        data = server.data()
    check(data in (FULL[:3], FULL[:4]), f"reports {data!r}")
    return data[:3], False
@row("Two instances started together", "one installs; the other asks for the data and ends without \"one\"")
def two_together(env):
    with Server(env, sample_reply(env)) as server:
        env.install_copy()
        a, b = env.start_stub(copy=False), env.start_stub(copy=False)
        check_eq((wait_exit(a, 60), wait_exit(b, 60)), (0, 0), "exit codes")
        data = server.data()
    rest = [d for d in data if d != "Info"]
    check_eq(data.count("Info"), 2, "both asked for the data")
    check_eq(short(rest), FULL[1:], "reports")
    return ["Info", *rest[:1], "Info", *rest[1:]], True

@row("TLS report server with a certificate from an untrusted issuer, for another host name, or expired",
     "stops waiting at once, sends it nothing, installs the built-in download from its https:// host",
     cost=24)
def tls_refused_server(env):
    for kind in ("untrusted", "wrong-host", "expired"):
        env.reset()
        reply = sample_reply(env, url=DL_BASE + FALLBACK_PATH)
        with tls_server(env, reply, tls=kind) as server, tls_server(env, port=DL_PORT) as dl:
            data = run_to_end(env, server, build="stub-tls.exe")
            check_eq([f.split("?")[0] for f in dl.file_requests()], ["/" + FALLBACK_PATH],
                     f"{kind}: the built-in download")
        check_eq(data, [], f"{kind}: nothing reached the refused server")
    return data, True
@row("TLS download host with a certificate from an untrusted issuer", "downloads nothing from it, both downloads fail, stays with the browser button; Alt+F4 ends it")
def tls_untrusted_download(env):
    with tls_server(env, sample_reply(env, url=DL_BASE + FALLBACK_PATH)) as server, \
            tls_server(env, port=DL_PORT, tls="untrusted") as dl:
        data = run_to_failure_and_close(env, server, build="stub-tls.exe")
        check_eq(dl.events(), [], "nothing reached the refused download host")
    check_eq(short(data), FAILED, "reports")
    return data, False

def refused_twice(data, redirecting):  # two downloads asked for, each refused with a status of its own
    check(len(redirecting.requests) == 2 and all(" DownCode=1003, " in d for d in data[4:8:3]), f"refused twice: {data}")
    return data, False

@row("Download over https:// redirected to http://", "refuses the transfer as its data begins, before any is saved (status 1003; Wine follows the redirect before the stub hears of it, so the http:// host sees the request); starts nothing; both downloads fail, stays with the browser button; Alt+F4 ends it", cost=15)
def tls_download_redirected_to_http(env):
    cert, url = os.path.join(env.certificates(), "localhost.pem"), f"https://localhost:{REDIRECT_PORT}/to/{BASE}{FALLBACK_PATH}"
    with Server(env), redirector(REDIRECT_PORT, cert) as redirecting, tls_server(env, sample_reply(env, url=url)) as server:
        data = run_to_failure_and_close(env, server, build="stub-tls.exe")
    check(short(data) == FAILED and not env.exists("C:\\Temp\\" + FALLBACK_NAME), f"nothing saved: {data}")
    return refused_twice(data, redirecting)
@row("Download redirected from http:// to file:///c:/x.exe", "refuses the transfer (status 1003), starts nothing; both downloads fail, stays with the browser button; Alt+F4 ends it", cost=15)
def download_redirected_to_file(env):
    with redirector(REDIRECT_PORT) as redirecting:
        return refused_twice(failing(env, reply=sample_reply(env, url=f"http://127.0.0.1:{REDIRECT_PORT}/to/file:///c:/x.exe"))[0], redirecting)

@row("wininet.dll and urlmon.dll planted beside the stub, native DLLs preferred",
     "loads the system's copies by full path, never the planted ones; installs")
def planted_dlls(env):
    planted = [f"C:\\{APP_DIR}\\{name}" for name in ("wininet.dll", "urlmon.dll")]
    for path in planted:
        env.put(path, pathlib.Path(env.win_bin, "planted.dll").read_bytes())
    env.install_copy("e2e-helper.exe", build="e2e-helper.exe")
    prefer_native = dict(os.environ, WINEDLLOVERRIDES=os.environ["WINEDLLOVERRIDES"] + ";wininet,urlmon=n,b")
    # The plant works: a program beside it that loads the library by name gets it (and ends).
    helper = subprocess.run(["wine", env.path(f"C:\\{APP_DIR}\\e2e-helper.exe"), "load", "wininet.dll"],
                            env=prefer_native, timeout=60, stdin=subprocess.DEVNULL, capture_output=True)
    check_eq(helper.returncode, 77, "exit code of a program that loads wininet.dll by name")
    os.remove(env.path(planted[0] + ".loaded"))
    with Server(env, sample_reply(env)) as server:
        exe = env.install_copy()
        check_eq(wait_exit(subprocess.Popen(["wine", exe], env=prefer_native, stdin=subprocess.DEVNULL,
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL), 60), 0, "exit code")
        data = server.data()
    check_eq([p for p in planted if env.exists(p + ".loaded")], [], "planted libraries loaded by the stub")
    check_eq(short(data), FULL, "reports")
    return data, True

def refused(env, installer, verdict, md5=None, **server):
    """The pinned test copy refuses `installer`, served at the built-in path, with this signature verdict."""
    finish = "DownFinish=Not Sign=" + verdict
    return failing(env, [*FAILED[:4], finish, "AutoReDown", "BeginDown", finish], build="stub-pinned.exe",
                   reply=sample_reply(env, md5=md5 or env.tool("md5", installer).decode().strip()),
                   files={FALLBACK_PATH: installer}, **server)

def clean_trail(data):  # both failures came after a transfer through exactly 4, 14, 5, 6
    for report in (data[4], data[7]):
        check(" DownCode=4,14,5,6, " in report, f"a 4,14,5,6 transfer: {report!r}")
    return data, False

@row("Installer without a signature for a stub that pins its publisher; digest wrong, a 4,14,5,6 transfer", "never starts it, not by the 4,14,5,6 rule either (Sign=unsigned); both attempts fail, stays with the browser button", cost=15)
def unsigned_installer(env):
    return clean_trail(refused(env, env.sample, "unsigned", md5="0" * 32, faults=["--file-rate", "150000"])[0])
@row("Installer changed after signing (stub pins its publisher)", "refuses it (Sign=bad-digest); both attempts fail, stays with the browser button")
def changed_installer(env): return refused(env, env.signed("tampered"), "bad-digest")
@row("Installer signed by another certificate under the trusted root (stub pins its publisher)", "refuses it (Sign=not-pinned); both attempts fail, stays with the browser button")
def other_signer(env): return refused(env, env.signed("other"), "not-pinned")
@row("Installer signed in the publisher's name under a root the machine does not trust (stub pins its publisher)", "refuses it (Sign=untrusted-root), though Wine's WinVerifyTrust accepts it; both attempts fail, stays with the browser button")
def impostor_signer(env): return refused(env, env.signed("impostor"), "untrusted-root")
@row("Reply whose FileSHA256 names another file; digest right, a 4,14,5,6 transfer", "refuses it whatever the MD5 and the status trail say; both attempts fail, stays with the browser button", cost=15)
def sha256_mismatch(env):
    return clean_trail(failing(env, reply=sample_reply(env) + "<#>FileSHA256==" + "0" * 64,
                               faults=["--file-rate", "150000"])[0])

def table_problem(build, results):
    """What is wrong with the table of docs/faults.md against this run's rows (nothing after a partial run)."""
    if not all(name in results for name, *_ in ROWS):
        return None
    lines = [f"| {fault} | {did} | {results[name]} |" for name, fault, did in ROWS]
    pathlib.Path(build, "faults-table.md").write_text("\n".join(lines) + "\n", encoding="utf-8")
    doc = pathlib.Path(ROOT, "docs", "faults.md").read_text(encoding="utf-8")
    doc = doc.split("|---|---|---|\n", 1)[-1].split("\n\n")[0].splitlines()
    return doc != lines and f"the table of docs/faults.md is out of date: see {build}/faults-table.md"
